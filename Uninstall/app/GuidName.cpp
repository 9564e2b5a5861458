#include "app/GuidName.h"
#include <cwchar>

namespace voro {

std::wstring FormatGuidName(const GUID& g) {
    wchar_t text[64];
    _snwprintf(text, 64, L"{%08X-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
               g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
               g.Data4[7]);
    text[63] = 0;
    return text;
}

}  // namespace voro
