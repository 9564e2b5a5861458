// Where the tests find the fixture product built by fixture/CMakeLists.txt. The build tree is
// reached through the prefix's Z: drive, which maps the Unix root.
#pragma once
#include <string>

#ifndef VORO_FIXTURE_DIR
#error "VORO_FIXTURE_DIR must name the fixture build folder (a Unix path)"
#endif

namespace fixture {

inline std::wstring WindowsPathOfUnix(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

// relative: for example L"bin\\vorowp.exe" or L"foreign\\voroplug.dll".
inline std::wstring Path(const std::wstring& relative) {
    return WindowsPathOfUnix(VORO_FIXTURE_DIR) + L"\\" + relative;
}

}  // namespace fixture
