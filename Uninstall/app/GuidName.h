// The text form of a GUID used for temporary file and folder names.
#pragma once
#include <windows.h>
#include <string>

namespace voro {
// "{XXXXXXXX-XXXX-xxxx-XXXX-XXXXXXXXXXXX}": the third group in lower case, the rest upper case.
std::wstring FormatGuidName(const GUID& guid);
}  // namespace voro
