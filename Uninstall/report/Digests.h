// SHA-1 through the system's CryptoAPI and the Dallas/Maxim CRC-8 check byte.
#pragma once
#include <cstdint>
#include <string>

// Lowercase hex SHA-1 (40 digits) of the bytes; false when the crypto provider is unavailable.
bool Sha1Hex(const std::string& bytes, std::string& hex);

// CRC-8 with the reflected polynomial 0x8C, initial value 0 and no final XOR.
uint8_t Crc8Maxim(const std::string& bytes);
