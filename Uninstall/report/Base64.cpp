#include "report/Base64.h"

namespace
{
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of one alphabet character, or -1 for anything else (including "=").
int DecodeChar(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}
} // namespace

std::string Base64Encode(const uint8_t* data, size_t size)
{
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= size; i += 3)
    {
        const uint32_t v = (static_cast<uint32_t>(data[i]) << 16) |
                           (static_cast<uint32_t>(data[i + 1]) << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 0x3F];
        out += kAlphabet[(v >> 12) & 0x3F];
        out += kAlphabet[(v >> 6) & 0x3F];
        out += kAlphabet[v & 0x3F];
    }
    const size_t rest = size - i;
    if (rest > 0)
    {
        uint32_t v = static_cast<uint32_t>(data[i]) << 16;
        if (rest == 2)
            v |= static_cast<uint32_t>(data[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 0x3F];
        out += kAlphabet[(v >> 12) & 0x3F];
        out += rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::string Base64Encode(const std::vector<uint8_t>& data)
{
    return Base64Encode(data.data(), data.size());
}

bool Base64Decode(const std::string& text, std::vector<uint8_t>& out)
{
    out.clear();
    const size_t len = text.size();
    if (len < 4 || len % 4 != 0)
        return false;

    size_t padding = 0;
    if (text[len - 1] == '=')
        padding = text[len - 2] == '=' ? 2 : 1;
    const size_t dataChars = len - padding;

    std::vector<uint8_t> bytes;
    bytes.reserve(len / 4 * 3);
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < dataChars; ++i)
    {
        const int v = DecodeChar(text[i]);
        if (v < 0)
            return false;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8)
        {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>(acc >> bits));
            acc &= (1u << bits) - 1;
        }
    }
    out.swap(bytes);
    return true;
}
