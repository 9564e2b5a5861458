#pragma once

#include <cstddef>
#include <cstdint>

// Blowfish block cipher: 64-bit blocks, 16 rounds, keys of 1 to 56 bytes.
// A context is keyed once and then encrypts or decrypts single blocks; each
// block is handled as two 32-bit halves (left, right).
class CBlowfish
{
public:
    // Initialises the tables from the pi constants and runs the key schedule.
    // The key is used cyclically; keys longer than 72 bytes (the P-array size)
    // contribute only their first 72 bytes.
    CBlowfish(const uint8_t* key, size_t keyLen);

    void EncryptBlock(uint32_t& left, uint32_t& right) const;
    void DecryptBlock(uint32_t& left, uint32_t& right) const;

    // Block variants over 8 bytes, read and written as big-endian words.
    void EncryptBlock(uint8_t block[8]) const;
    void DecryptBlock(uint8_t block[8]) const;

private:
    uint32_t F(uint32_t x) const;

    uint32_t m_arrP[18];
    uint32_t m_arrS[4][256];
};
