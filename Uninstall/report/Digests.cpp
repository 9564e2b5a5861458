#include "report/Digests.h"
#include <windows.h>
#include <wincrypt.h>

namespace {

struct CryptProvider {
    HCRYPTPROV handle = 0;
    ~CryptProvider() {
        if (handle) ::CryptReleaseContext(handle, 0);
    }
};
struct CryptHash {
    HCRYPTHASH handle = 0;
    ~CryptHash() {
        if (handle) ::CryptDestroyHash(handle);
    }
};

}  // namespace

bool Sha1Hex(const std::string& bytes, std::string& hex) {
    hex.clear();
    CryptProvider provider;
    if (!::CryptAcquireContextW(&provider.handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        provider.handle = 0;
        return false;
    }
    CryptHash hash;
    if (!::CryptCreateHash(provider.handle, CALG_SHA1, 0, 0, &hash.handle)) {
        hash.handle = 0;
        return false;
    }
    if (!bytes.empty() &&
        !::CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0))
        return false;
    BYTE digest[20];
    DWORD size = sizeof(digest);
    if (!::CryptGetHashParam(hash.handle, HP_HASHVAL, digest, &size, 0) || size != sizeof(digest)) return false;
    static const char digits[] = "0123456789abcdef";
    for (BYTE byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return true;
}

uint8_t Crc8Maxim(const std::string& bytes) {
    uint8_t crc = 0;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
    }
    return crc;
}
