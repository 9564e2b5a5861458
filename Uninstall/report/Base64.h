#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Base64 with the standard alphabet (RFC 4648), "=" padding and no line breaks.

std::string Base64Encode(const uint8_t* data, size_t size);
std::string Base64Encode(const std::vector<uint8_t>& data);

// Strict decoding: the text must be non-empty, at least 4 characters long and a
// multiple of 4; only one or two "=" at its very end are accepted, and any other
// character outside the alphabet fails. On failure `out` is left empty.
bool Base64Decode(const std::string& text, std::vector<uint8_t>& out);
