#include "report/Base64.h"
#include "report/Blowfish.h"
#include "report/StringCipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace
{
std::string FromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string ToHex(const uint8_t* data, size_t size)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i)
    {
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::vector<uint8_t> Bytes(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// ---------------------------------------------------------------------------
// Blowfish block cipher against the published reference vectors.

struct BlockVector
{
    std::string key;
    std::string clear;
    std::string cipher;
};

std::ostream& operator<<(std::ostream& os, const BlockVector& v)
{
    return os << "key " << v.key << " clear " << v.clear;
}

// The variable-key ECB table as published (row 7 repeats row 1 there).
const BlockVector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The set-key table: key lengths 1..24 taken from the front of one key, one clear block.
const char kSetKeyKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char kSetKeyClear[] = "FEDCBA9876543210";
const char* const kSetKeyCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

std::vector<BlockVector> SetKeyVectors()
{
    std::vector<BlockVector> out;
    for (size_t len = 1; len <= 24; ++len)
        out.push_back({std::string(kSetKeyKey, 2 * len), kSetKeyClear, kSetKeyCiphers[len - 1]});
    return out;
}

class BlowfishVectorTest : public testing::TestWithParam<BlockVector>
{
};

TEST_P(BlowfishVectorTest, EncryptsToCipherAndDecryptsBack)
{
    const BlockVector& v = GetParam();
    const std::string key = FromHex(v.key);
    const CBlowfish cipher(reinterpret_cast<const uint8_t*>(key.data()), key.size());

    std::vector<uint8_t> block = Bytes(FromHex(v.clear));
    cipher.EncryptBlock(block.data());
    EXPECT_EQ(v.cipher, ToHex(block.data(), block.size()));

    cipher.DecryptBlock(block.data());
    EXPECT_EQ(v.clear, ToHex(block.data(), block.size()));
}

INSTANTIATE_TEST_SUITE_P(VariableKey, BlowfishVectorTest, testing::ValuesIn(kEcbVectors));
INSTANTIATE_TEST_SUITE_P(SetKey, BlowfishVectorTest, testing::ValuesIn(SetKeyVectors()));

// ---------------------------------------------------------------------------
// Base64.

struct Base64Case
{
    const char* plain;
    const char* text;
};

const Base64Case kBase64Cases[] = {
    {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    {"\xFB\xEF\xFF", "++//"},
};

TEST(Base64Test, EncodesAndDecodesRfcVectors)
{
    for (const Base64Case& c : kBase64Cases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.text, Base64Encode(Bytes(c.plain)));
        if (*c.text == '\0')
            continue;  // decoding rejects the empty text
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(Base64Decode(c.text, decoded));
        EXPECT_EQ(Bytes(c.plain), decoded);
    }
}

TEST(Base64Test, RejectsMalformedText)
{
    const char* const kBad[] = {
        "",          // empty
        "Zg",        // shorter than 4
        "Zm9vY",     // not a multiple of 4
        "Z===",      // three "="
        "====",      // padding only
        "Zg==Zg==",  // "=" before the end
        "Zm=v",      // "=" inside the last group
        "Zm9v!A==",  // character outside the alphabet
        "Zm9 vA==",  // white space
        "Zm9v\r\n",  // line break
    };
    for (const char* text : kBad)
    {
        SCOPED_TRACE(text);
        std::vector<uint8_t> decoded{1, 2, 3};
        EXPECT_FALSE(Base64Decode(text, decoded));
        EXPECT_TRUE(decoded.empty());
    }
}

// ---------------------------------------------------------------------------
// The cipher entry points.

const std::wstring kGuidKey = L"7C1E0F4A-93B2-4D6E-A5C8-2F1B3E9D0A64";

TEST(StringCipherTest, EncryptBytesMatchesBlowfishEcbWithZeroPadding)
{
    struct Case
    {
        const char* keyHex;
        std::string plain;
        const char* base64;
    };
    const Case kCases[] = {
        {"0000000000000000", std::string(1, '\0'), "TvmXRWGY3Xg="},              // padded to one block
        {"0000000000000000", std::string(9, '\0'), "TvmXRWGY3XhO+ZdFYZjdeA=="},  // padded to two
        {"1111111111111111", FromHex("11111111111111111111111111111111"), "JGbdh4uWPJ0kZt2Hi5Y8nQ=="},
        {"FEDCBA9876543210", FromHex("0123456789ABCDEF"), "Cs6rD8agoo0="},
    };
    for (const Case& c : kCases)
    {
        SCOPED_TRACE(c.base64);
        std::string text;
        ASSERT_TRUE(EncryptBytes(c.plain, FromHex(c.keyHex), text));
        EXPECT_EQ(c.base64, text);
    }
}

TEST(StringCipherTest, CipherLengthFollowsBlockPadding)
{
    const struct
    {
        size_t plainLen;
        size_t base64Len;
    } kCases[] = {{1, 12}, {7, 12}, {8, 12}, {9, 24}, {16, 24}, {17, 32}};
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(c.plainLen);
        std::string text;
        ASSERT_TRUE(EncryptBytes(std::string(c.plainLen, 'x'), "key", text));
        EXPECT_EQ(c.base64Len, text.size());
    }
}

TEST(StringCipherTest, EmptyInputOrKeyFails)
{
    std::string bytes = "stale";
    EXPECT_FALSE(EncryptBytes("", "key", bytes));
    EXPECT_TRUE(bytes.empty());
    bytes = "stale";
    EXPECT_FALSE(EncryptBytes("plain", "", bytes));
    EXPECT_TRUE(bytes.empty());
    bytes = "stale";
    EXPECT_FALSE(DecryptBytes("", "key", bytes));
    EXPECT_TRUE(bytes.empty());
    bytes = "stale";
    EXPECT_FALSE(DecryptBytes("TvmXRWGY3Xg=", "", bytes));
    EXPECT_TRUE(bytes.empty());

    std::wstring text = L"stale";
    EXPECT_FALSE(EncryptText(L"", kGuidKey, text));
    EXPECT_TRUE(text.empty());
    text = L"stale";
    EXPECT_FALSE(EncryptText(L"plain", L"", text));
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(L"", DecryptText(L"", kGuidKey));
    EXPECT_EQ(L"", DecryptText(L"TvmXRWGY3Xg=", L""));
}

TEST(StringCipherTest, InvalidBase64Fails)
{
    const wchar_t* const kBad[] = {L"TvmXRWGY3X", L"TvmXRWGY3Xg", L"TvmXRWGY3Xg=A", L"TvmX*WGY3Xg=",
                                   L"TvmXRWGY\u4E2D3Xg="};
    for (const wchar_t* text : kBad)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        EXPECT_EQ(L"", DecryptText(text, kGuidKey));
    }
    std::string bytes;
    EXPECT_FALSE(DecryptBytes("TvmX*WGY3Xg=", "key", bytes));
}

TEST(StringCipherTest, TextRoundTrips)
{
    const struct
    {
        std::wstring plain;
        std::wstring key;
    } kCases[] = {
        {L"a", kGuidKey},
        {L"12345678", kGuidKey},                                  // exactly one block
        {L"silent=1&from=setup", L"0123456789abcdef0123456789abcdef"},
        {L"\u58C1\u7EB8\u5378\u8F7D\u6210\u529F", kGuidKey},    // Chinese text
        {L"token \U0001F600 end", L"\u5BC6\u94A5"},               // surrogate pair, Chinese key
        {std::wstring(300, L'z'), kGuidKey},
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(testing::PrintToString(c.plain));
        std::wstring encrypted;
        ASSERT_TRUE(EncryptText(c.plain, c.key, encrypted));
        EXPECT_NE(c.plain, encrypted);
        EXPECT_EQ(c.plain, DecryptText(encrypted, c.key));
    }
}

TEST(StringCipherTest, TrailingZerosLostByTextKeptByBytes)
{
    const std::string plain("abcdef\0\0", 8);  // a whole block: no padding added
    std::string base64;
    ASSERT_TRUE(EncryptBytes(plain, "key", base64));

    std::string bytes;
    ASSERT_TRUE(DecryptBytes(base64, "key", bytes));
    EXPECT_EQ(plain, bytes);

    std::wstring wideBase64(base64.begin(), base64.end());
    EXPECT_EQ(L"abcdef", DecryptText(wideBase64, L"key"));
}

TEST(StringCipherTest, DecryptBytesKeepsDecodedLength)
{
    // Two blocks of 9 zero bytes with key 00..00; the padding stays in the output.
    std::string bytes;
    ASSERT_TRUE(DecryptBytes("TvmXRWGY3XhO+ZdFYZjdeA==", std::string(8, '\0'), bytes));
    EXPECT_EQ(std::string(16, '\0'), bytes);

    // A trailing partial block decrypts like the same block filled up with zeros.
    const std::string key = "key";
    const std::string partial = "TvmXRWGY3XhO+ZdF";          // 12 bytes
    const std::string filled = "TvmXRWGY3XhO+ZdFAAAAAA==";   // the same 12 bytes and 4 zeros
    std::string fromPartial;
    std::string fromFilled;
    ASSERT_TRUE(DecryptBytes(partial, key, fromPartial));
    ASSERT_TRUE(DecryptBytes(filled, key, fromFilled));
    ASSERT_EQ(12u, fromPartial.size());
    EXPECT_EQ(fromFilled.substr(0, 12), fromPartial);
}
} // namespace
