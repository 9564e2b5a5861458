// Registry access with the view always explicit. The uninstaller is a 32-bit program: machine-wide
// keys are read in the 32-bit view unless a caller names the 64-bit one. Passing the view flag
// explicitly keeps that true in a 64-bit build (the tests) as well.
#pragma once
#include "app/Handles.h"
#include <windows.h>
#include <string>
#include <vector>

namespace voro::reg {

enum class View { Wow32, Wow64 };

constexpr size_t kMaxString = MAX_PATH;  // string values use 260-character buffers

REGSAM ViewFlag(View view);

// Opens an existing key; an invalid handle when it is missing.
UniqueHKey Open(HKEY root, const std::wstring& subKey, REGSAM access, View view = View::Wow32);

// A REG_SZ or REG_EXPAND_SZ value that fits 260 characters with its terminator; anything else
// (missing, another type, too long) counts as absent.
bool ReadString(HKEY root, const std::wstring& subKey, const std::wstring& name, std::wstring& value,
                View view = View::Wow32);
bool ReadDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD& value,
               View view = View::Wow32);
// Creates the key when missing.
bool WriteString(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                 View view = View::Wow32, DWORD type = REG_SZ);
bool WriteDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value,
                View view = View::Wow32);
// True when the value is gone afterwards (also when it was never there).
bool DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name, View view = View::Wow32);
// Deletes the key with everything below it; true when it is gone afterwards.
bool DeleteTree(HKEY root, const std::wstring& subKey, View view = View::Wow32);
bool KeyExists(HKEY root, const std::wstring& subKey, View view = View::Wow32);

struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
// Every value of the key in enumeration order (names up to 16383 characters).
std::vector<Value> EnumValues(HKEY root, const std::wstring& subKey, View view = View::Wow32);
// The text of a string value's data, without the terminator.
std::wstring ValueText(const Value& value);

}  // namespace voro::reg
