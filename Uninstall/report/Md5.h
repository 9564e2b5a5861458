// MD5 (RFC 1321) and the doubled-finalisation variant the machine identifier uses. Written here
// rather than taken from the system because MD5x2 needs the inner state after the first final.
#pragma once
#include <cstdint>
#include <string>

// Standard MD5 of the bytes, 32 lowercase hex digits.
std::string Md5Hex(const std::string& bytes);

// MD5 over the text limited to 259 bytes, finalised twice: after the normal final block, one
// more final runs over the state with the final block's first 56 bytes and the same bit count.
// 32 lowercase hex digits; differs from Md5Hex for every input.
std::string MD5x2(const std::string& text);
