#include "report/StringCipher.h"

#include "report/Base64.h"
#include "report/Blowfish.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
const size_t kBlockSize = 8;

bool ToUtf8(const std::wstring& text, std::string& out)
{
    out.clear();
    if (text.empty())
        return true;
    if (text.size() > static_cast<size_t>(INT_MAX))
        return false;
    const int wideLen = static_cast<int>(text.size());
    const int len = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLen, nullptr, 0, nullptr, nullptr);
    if (len <= 0)
        return false;
    out.resize(static_cast<size_t>(len));
    return WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLen, &out[0], len, nullptr, nullptr) == len;
}

bool FromUtf8(const char* data, size_t size, std::wstring& out)
{
    out.clear();
    if (size == 0)
        return true;
    if (size > static_cast<size_t>(INT_MAX))
        return false;
    const int byteLen = static_cast<int>(size);
    const int len = MultiByteToWideChar(CP_UTF8, 0, data, byteLen, nullptr, 0);
    if (len <= 0)
        return false;
    out.resize(static_cast<size_t>(len));
    return MultiByteToWideChar(CP_UTF8, 0, data, byteLen, &out[0], len) == len;
}

const uint8_t* KeyBytes(const std::string& key)
{
    return reinterpret_cast<const uint8_t*>(key.data());
}
} // namespace

bool EncryptBytes(const std::string& plain, const std::string& key, std::string& outBase64)
{
    outBase64.clear();
    if (plain.empty() || key.empty())
        return false;
    try
    {
        // Zero padding up to the next block boundary; whole blocks get none.
        const size_t padded = (plain.size() + kBlockSize - 1) / kBlockSize * kBlockSize;
        std::vector<uint8_t> data(padded, 0);
        std::memcpy(data.data(), plain.data(), plain.size());

        const CBlowfish cipher(KeyBytes(key), key.size());
        for (size_t pos = 0; pos < padded; pos += kBlockSize)
            cipher.EncryptBlock(&data[pos]);

        outBase64 = Base64Encode(data);
        return true;
    }
    catch (...)
    {
        outBase64.clear();
        return false;
    }
}

bool DecryptBytes(const std::string& base64, const std::string& key, std::string& outBytes)
{
    outBytes.clear();
    if (base64.empty() || key.empty())
        return false;
    try
    {
        std::vector<uint8_t> data;
        if (!Base64Decode(base64, data))
            return false;

        // A trailing partial block is decrypted as a zero-filled whole block;
        // the result is cut back to the decoded length afterwards.
        const size_t size = data.size();
        data.resize((size + kBlockSize - 1) / kBlockSize * kBlockSize, 0);

        const CBlowfish cipher(KeyBytes(key), key.size());
        for (size_t pos = 0; pos < data.size(); pos += kBlockSize)
            cipher.DecryptBlock(&data[pos]);

        outBytes.assign(reinterpret_cast<const char*>(data.data()), size);
        return true;
    }
    catch (...)
    {
        outBytes.clear();
        return false;
    }
}

bool EncryptText(const std::wstring& plain, const std::wstring& key, std::wstring& out)
{
    out.clear();
    try
    {
        std::string plainUtf8;
        std::string keyUtf8;
        std::string base64;
        if (!ToUtf8(plain, plainUtf8) || !ToUtf8(key, keyUtf8))
            return false;
        if (!EncryptBytes(plainUtf8, keyUtf8, base64))
            return false;
        if (!FromUtf8(base64.data(), base64.size(), out))
        {
            out.clear();
            return false;
        }
        return true;
    }
    catch (...)
    {
        out.clear();
        return false;
    }
}

std::wstring DecryptText(const std::wstring& text, const std::wstring& key)
{
    try
    {
        std::string textUtf8;
        std::string keyUtf8;
        std::string plain;
        if (!ToUtf8(text, textUtf8) || !ToUtf8(key, keyUtf8))
            return std::wstring();
        if (!DecryptBytes(textUtf8, keyUtf8, plain))
            return std::wstring();

        // The zero padding ends the text; so does any zero byte of the plain text.
        const size_t end = plain.find('\0');
        const size_t len = end == std::string::npos ? plain.size() : end;
        std::wstring result;
        if (!FromUtf8(plain.data(), len, result))
            return std::wstring();
        return result;
    }
    catch (...)
    {
        return std::wstring();
    }
}
