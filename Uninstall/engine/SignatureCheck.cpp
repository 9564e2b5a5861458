#include "engine/SignatureCheck.h"

#include "engine/Publishers.h"

#include <windows.h>
#include <shlwapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>

namespace {

constexpr HRESULT kCertExpired = static_cast<HRESULT>(0x800B0101);  // CERT_E_EXPIRED
constexpr DWORD kNameBufferChars = 512;

// Releases the verifier's state whatever the verification returned: the state is allocated even
// when the signature is rejected.
class TrustState {
public:
    TrustState(WINTRUST_DATA& data, GUID action) : m_data(data), m_action(action) {}
    ~TrustState() {
        HANDLE state = m_data.hWVTStateData;
        WINTRUST_FILE_INFO* file = m_data.pFile;
        ZeroMemory(&m_data, sizeof(m_data));
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = file;
        m_data.hWVTStateData = state;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(nullptr, &m_action, &m_data);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

private:
    WINTRUST_DATA& m_data;
    GUID m_action;
};

// The signer certificate: first element of the first simple chain of the first signer. MinGW has
// no structured exception handling, so every link of the walk is checked (pointer, count and the
// structure's declared size) before it is followed instead of catching a fault.
PCCERT_CONTEXT SignerCertificate(HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
    if (provider == nullptr) return nullptr;
    if (!WVT_ISINSTRUCT(CRYPT_PROVIDER_DATA, provider->cbStruct, pasSigners)) return nullptr;
    if (provider->csSigners == 0 || provider->pasSigners == nullptr) return nullptr;
    const CRYPT_PROVIDER_SGNR& signer = provider->pasSigners[0];
    if (!WVT_ISINSTRUCT(CRYPT_PROVIDER_SGNR, signer.cbStruct, pChainContext)) return nullptr;
    PCCERT_CHAIN_CONTEXT chainContext = signer.pChainContext;
    if (chainContext == nullptr || chainContext->cChain == 0 || chainContext->rgpChain == nullptr)
        return nullptr;
    PCERT_SIMPLE_CHAIN chain = chainContext->rgpChain[0];
    if (chain == nullptr || chain->cElement == 0 || chain->rgpElement == nullptr) return nullptr;
    PCERT_CHAIN_ELEMENT element = chain->rgpElement[0];
    if (element == nullptr) return nullptr;
    return element->pCertContext;
}

bool OlderThanVista() {
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
    return info.dwMajorVersion < 6;
}

// signerName null: the signer must be on the publisher allow-list; otherwise it must equal signerName.
bool VerifySigner(const wchar_t* path, const wchar_t* signerName) {
    if (path == nullptr || !::PathFileExistsW(path)) return false;
    if (OlderThanVista()) return true;

    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    file.hFile = nullptr;
    file.pgKnownSubject = nullptr;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUIContext = 0;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = ::WinVerifyTrust(nullptr, &action, &data);
    TrustState release(data, action);
    if (result != 0 && result != kCertExpired) return false;

    PCCERT_CONTEXT certificate = SignerCertificate(data.hWVTStateData);
    if (certificate == nullptr) return false;

    wchar_t name[kNameBufferChars] = {};
    const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                              name, kNameBufferChars);
    if (length < 1 || length > kNameBufferChars - 1) return false;

    if (signerName == nullptr) return voro::IsAllowedPublisher(name);
    return _wcsicmp(name, signerName) == 0;
}

}  // namespace

bool VerifyFileSignature(const wchar_t* path) {
    return VerifySigner(path, nullptr);
}

bool VerifyFileSignatureBy(const wchar_t* path, const wchar_t* signerName) {
    if (signerName == nullptr) return true;
    return VerifySigner(path, signerName);
}
