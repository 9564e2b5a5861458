#include "engine/Publishers.h"
#include "engine/SignatureCheck.h"

#include "FixturePaths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace {

// Signer names of the test certificates (cmake/TestSigning.cmake).
constexpr wchar_t kLatinSigner[] = L"Quonsoft Technology Co., Ltd.";
constexpr wchar_t kChineseSigner[] = L"北京夸恩科技有限公司";
constexpr wchar_t kForeignSigner[] = L"Example Foreign Software Ltd.";
constexpr wchar_t kExpiredSigner[] = L"Voro Interactive Limited";

TEST(SignatureCheckTest, TestSignersAreWhereTheAllowListSaysTheyAre) {
    EXPECT_TRUE(voro::IsAllowedPublisher(kLatinSigner));
    EXPECT_TRUE(voro::IsAllowedPublisher(kChineseSigner));
    EXPECT_TRUE(voro::IsAllowedPublisher(kExpiredSigner));
    EXPECT_FALSE(voro::IsAllowedPublisher(kForeignSigner));
    EXPECT_TRUE(voro::IsAllowedPublisher(L"quonsoft technology co., ltd."));  // any case
    EXPECT_FALSE(voro::IsAllowedPublisher(L"Quonsoft Technology"));           // whole name only
    EXPECT_FALSE(voro::IsAllowedPublisher(L""));
    EXPECT_FALSE(voro::IsAllowedPublisher(nullptr));
}

// The harness hook puts the build's test root into the prefix's machine Root store, so the
// chains of the test signatures end in a trusted root as on a prepared Windows machine. (Wine's
// verifier accepts an untrusted root as well; real Windows would not.)
TEST(SignatureCheckTest, PrefixTrustsTheTestRoot) {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"Root");
    ASSERT_NE(nullptr, store);
    PCCERT_CONTEXT root = ::CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                                       L"Voro Test Root CA", nullptr);
    EXPECT_NE(nullptr, root);
    if (root) ::CertFreeCertificateContext(root);
    ::CertCloseStore(store, 0);
}

struct AllowListCase {
    const wchar_t* file;  // relative to the fixture folder; null: a null path
    bool accepted;
};

TEST(SignatureCheckTest, AcceptsOnlyValidSignaturesOfListedPublishers) {
    const AllowListCase cases[] = {
        {L"bin\\vorowp.exe", true},            // allowed Latin publisher
        {L"bin\\voroplug.dll", true},          // a DLL as well
        {L"chinese\\vorowp.exe", true},        // allowed Chinese publisher
        {L"chinese\\voroplug.dll", true},
        {L"expired\\vorowp.exe", true},        // certificate expired since signing: still accepted
        {L"foreign\\vorowp.exe", false},       // valid signature, publisher not on the list
        {L"foreign\\voroplug.dll", false},
        {L"unsigned\\vorowp.exe", false},
        {L"unsigned\\voroplug.dll", false},
        {L"bin", false},                       // a folder
        {L"bin\\no-such-file.exe", false},
        {nullptr, false},
    };
    for (const AllowListCase& c : cases) {
        const std::wstring path = c.file ? fixture::Path(c.file) : std::wstring();
        SCOPED_TRACE(c.file ? std::string(path.begin(), path.end()) : std::string("(null)"));
        EXPECT_EQ(c.accepted, VerifyFileSignature(c.file ? path.c_str() : nullptr));
    }
}

// A changed byte inside the signed image breaks the digest; an untouched copy still passes, so the
// copy's place is not what decides.
TEST(SignatureCheckTest, RejectsATamperedFile) {
    testsupport::TempFolder temp;
    const std::wstring intact = temp.File(L"intact.exe");
    const std::wstring tampered = temp.File(L"tampered.exe");
    ASSERT_TRUE(::CopyFileW(fixture::Path(L"bin\\vorowp.exe").c_str(), intact.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(intact.c_str(), tampered.c_str(), FALSE));
    HANDLE file = ::CreateFileW(tampered.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    BYTE byte = 0;
    DWORD done = 0;
    ::SetFilePointer(file, 0x400, nullptr, FILE_BEGIN);  // inside the first section
    ASSERT_TRUE(::ReadFile(file, &byte, 1, &done, nullptr));
    byte ^= 0x5A;
    ::SetFilePointer(file, 0x400, nullptr, FILE_BEGIN);
    ASSERT_TRUE(::WriteFile(file, &byte, 1, &done, nullptr));
    ::CloseHandle(file);

    EXPECT_TRUE(VerifyFileSignature(intact.c_str()));
    EXPECT_FALSE(VerifyFileSignature(tampered.c_str()));
    EXPECT_FALSE(VerifyFileSignatureBy(tampered.c_str(), kLatinSigner));
}

struct NamedCase {
    const wchar_t* file;
    const wchar_t* signer;
    bool accepted;
};

TEST(SignatureCheckTest, NamedSignerMustMatchTheWholeDisplayName) {
    const NamedCase cases[] = {
        {L"bin\\vorowp.exe", kLatinSigner, true},
        {L"bin\\vorowp.exe", L"QUONSOFT TECHNOLOGY CO., LTD.", true},  // other case
        {L"bin\\vorowp.exe", kExpiredSigner, false},                   // another allowed publisher
        {L"bin\\vorowp.exe", L"Quonsoft Technology", false},           // a prefix is not the name
        {L"bin\\vorowp.exe", L"", false},
        {L"chinese\\vorowp.exe", kChineseSigner, true},
        {L"expired\\vorowp.exe", kExpiredSigner, true},
        {L"foreign\\vorowp.exe", L"example foreign software ltd.", true},  // named: the list does not matter
        {L"foreign\\vorowp.exe", kLatinSigner, false},
        {L"unsigned\\vorowp.exe", kLatinSigner, false},
        {L"bin", kLatinSigner, false},
    };
    for (const NamedCase& c : cases) {
        const std::wstring path = fixture::Path(c.file);
        SCOPED_TRACE(std::string(path.begin(), path.end()) + " by #" + std::to_string(&c - cases));
        EXPECT_EQ(c.accepted, VerifyFileSignatureBy(path.c_str(), c.signer));
    }
}

TEST(SignatureCheckTest, NullSignerAcceptsWithoutLookingAtTheFile) {
    EXPECT_TRUE(VerifyFileSignatureBy(fixture::Path(L"bin\\no-such-file.exe").c_str(), nullptr));
    EXPECT_TRUE(VerifyFileSignatureBy(fixture::Path(L"unsigned\\vorowp.exe").c_str(), nullptr));
    EXPECT_TRUE(VerifyFileSignatureBy(nullptr, nullptr));
    EXPECT_FALSE(VerifyFileSignatureBy(nullptr, kLatinSigner));
}

}  // namespace
