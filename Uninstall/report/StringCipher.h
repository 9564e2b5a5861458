#pragma once

#include <string>

// Short-text protection: Blowfish in ECB mode with zero padding, the cipher
// bytes carried as Base64. Every call keys a fresh cipher context; nothing is
// cached. No entry point logs or throws; an empty key always fails.

// Zero-pads `plain` to a multiple of 8 bytes, encrypts it and Base64-encodes
// the result into `outBase64`. Fails (leaving `outBase64` empty) for empty input.
bool EncryptBytes(const std::string& plain, const std::string& key, std::string& outBase64);

// Base64-decodes `base64` and decrypts it. The output keeps the decoded length,
// padding zeros included; a trailing partial block is decrypted as if filled
// with zeros. Fails (leaving `outBytes` empty) for empty or invalid Base64.
bool DecryptBytes(const std::string& base64, const std::string& key, std::string& outBytes);

// EncryptBytes over the UTF-8 forms of `plain` and `key`; `out` is the Base64 text.
bool EncryptText(const std::wstring& plain, const std::wstring& key, std::wstring& out);

// DecryptBytes over the UTF-8 forms of `text` and `key`; the plain bytes are read
// as UTF-8 up to the first zero byte. Returns an empty string on failure.
std::wstring DecryptText(const std::wstring& text, const std::wstring& key);
