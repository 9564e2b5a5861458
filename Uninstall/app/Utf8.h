// UTF-8 at the program's edges (web answers, form fields, URLs). Header-only, so that the network
// module shares it. Text that does not convert gives an empty result.
#pragma once
#include <windows.h>
#include <climits>
#include <cstring>
#include <string>

namespace voro {

inline std::string Utf8FromWide(const wchar_t* text, size_t length) {
    if (!text || length == 0 || length > static_cast<size_t>(INT_MAX)) return std::string();
    const int wide = static_cast<int>(length);
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wide, &out[0], size, nullptr, nullptr);
    return out;
}

inline std::string Utf8FromWide(const std::wstring& text) { return Utf8FromWide(text.data(), text.size()); }

inline std::string Utf8FromWide(const wchar_t* text) { return text ? Utf8FromWide(text, wcslen(text)) : std::string(); }

// A zero-terminated UTF-8 text; null gives an empty result.
inline std::wstring WideFromUtf8(const char* text) {
    if (!text || !*text) return std::wstring();
    const size_t length = strlen(text);
    if (length > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int bytes = static_cast<int>(length);
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, bytes, &out[0], size);
    return out;
}

}  // namespace voro
