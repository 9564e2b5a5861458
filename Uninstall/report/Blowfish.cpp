#include "report/Blowfish.h"

namespace
{
// The hexadecimal digits of pi: 18 P-array words, then the four S-boxes.
const uint32_t kPiWords[18 + 4 * 256] = {
#include "report/BlowfishPi.inc"
};

uint32_t LoadBigEndian(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void StoreBigEndian(uint32_t v, uint8_t* p)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
} // namespace

CBlowfish::CBlowfish(const uint8_t* key, size_t keyLen)
{
    for (int i = 0; i < 18; ++i)
        m_arrP[i] = kPiWords[i];
    for (int box = 0; box < 4; ++box)
        for (int i = 0; i < 256; ++i)
            m_arrS[box][i] = kPiWords[18 + 256 * box + i];

    // XOR the P-array with the key, taken cyclically four bytes per word.
    if (key != nullptr && keyLen > 0)
    {
        size_t pos = 0;
        for (int i = 0; i < 18; ++i)
        {
            uint32_t word = 0;
            for (int b = 0; b < 4; ++b)
            {
                word = (word << 8) | key[pos];
                pos = (pos + 1) % keyLen;
            }
            m_arrP[i] ^= word;
        }
    }

    // Replace P and then the S-boxes with successive encryptions of a zero block.
    uint32_t left = 0;
    uint32_t right = 0;
    for (int i = 0; i < 18; i += 2)
    {
        EncryptBlock(left, right);
        m_arrP[i] = left;
        m_arrP[i + 1] = right;
    }
    for (int box = 0; box < 4; ++box)
    {
        for (int i = 0; i < 256; i += 2)
        {
            EncryptBlock(left, right);
            m_arrS[box][i] = left;
            m_arrS[box][i + 1] = right;
        }
    }
}

uint32_t CBlowfish::F(uint32_t x) const
{
    return ((m_arrS[0][x >> 24] + m_arrS[1][(x >> 16) & 0xFF]) ^ m_arrS[2][(x >> 8) & 0xFF]) +
           m_arrS[3][x & 0xFF];
}

void CBlowfish::EncryptBlock(uint32_t& left, uint32_t& right) const
{
    uint32_t l = left;
    uint32_t r = right;
    for (int i = 0; i < 16; i += 2)
    {
        l ^= m_arrP[i];
        r ^= F(l);
        r ^= m_arrP[i + 1];
        l ^= F(r);
    }
    // The last round's swap is undone: the halves leave crossed over.
    left = r ^ m_arrP[17];
    right = l ^ m_arrP[16];
}

void CBlowfish::DecryptBlock(uint32_t& left, uint32_t& right) const
{
    uint32_t l = left;
    uint32_t r = right;
    for (int i = 17; i > 1; i -= 2)
    {
        l ^= m_arrP[i];
        r ^= F(l);
        r ^= m_arrP[i - 1];
        l ^= F(r);
    }
    left = r ^ m_arrP[0];
    right = l ^ m_arrP[1];
}

void CBlowfish::EncryptBlock(uint8_t block[8]) const
{
    uint32_t left = LoadBigEndian(block);
    uint32_t right = LoadBigEndian(block + 4);
    EncryptBlock(left, right);
    StoreBigEndian(left, block);
    StoreBigEndian(right, block + 4);
}

void CBlowfish::DecryptBlock(uint8_t block[8]) const
{
    uint32_t left = LoadBigEndian(block);
    uint32_t right = LoadBigEndian(block + 4);
    DecryptBlock(left, right);
    StoreBigEndian(left, block);
    StoreBigEndian(right, block + 4);
}
