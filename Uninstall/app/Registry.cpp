#include "app/Registry.h"

namespace voro::reg {

REGSAM ViewFlag(View view) { return view == View::Wow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

UniqueHKey Open(HKEY root, const std::wstring& subKey, REGSAM access, View view) {
    UniqueHKey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, access | ViewFlag(view), key.put()) != ERROR_SUCCESS)
        key.reset();
    return key;
}

bool ReadString(HKEY root, const std::wstring& subKey, const std::wstring& name, std::wstring& value,
                View view) {
    UniqueHKey key = Open(root, subKey, KEY_QUERY_VALUE, view);
    if (!key) return false;
    wchar_t buffer[kMaxString + 1] = {};
    DWORD type = 0, size = kMaxString * sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    size_t chars = size / sizeof(wchar_t);
    if (chars > 0 && buffer[chars - 1] == 0) --chars;
    if (chars >= kMaxString) return false;  // no room for the terminator
    value.assign(buffer, chars);
    size_t zero = value.find(L'\0');
    if (zero != std::wstring::npos) value.resize(zero);
    return true;
}

bool ReadDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD& value, View view) {
    UniqueHKey key = Open(root, subKey, KEY_QUERY_VALUE, view);
    if (!key) return false;
    DWORD type = 0, data = 0, size = sizeof(data);
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return false;
    value = data;
    return true;
}

namespace {
bool WriteRaw(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD type, const void* data,
              DWORD size, View view) {
    UniqueHKey key;
    if (::RegCreateKeyExW(root, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | ViewFlag(view), nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        key.reset();
        return false;
    }
    return ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}
}  // namespace

bool WriteString(HKEY root, const std::wstring& subKey, const std::wstring& name, const std::wstring& value,
                 View view, DWORD type) {
    return WriteRaw(root, subKey, name, type, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), view);
}

bool WriteDword(HKEY root, const std::wstring& subKey, const std::wstring& name, DWORD value, View view) {
    return WriteRaw(root, subKey, name, REG_DWORD, &value, sizeof(value), view);
}

bool DeleteValue(HKEY root, const std::wstring& subKey, const std::wstring& name, View view) {
    UniqueHKey key = Open(root, subKey, KEY_SET_VALUE, view);
    if (!key) return true;
    LONG r = ::RegDeleteValueW(key.get(), name.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool DeleteTree(HKEY root, const std::wstring& subKey, View view) {
    if (subKey.empty()) return false;  // never the root itself
    size_t slash = subKey.find_last_of(L'\\');
    std::wstring parentPath = slash == std::wstring::npos ? L"" : subKey.substr(0, slash);
    std::wstring leaf = slash == std::wstring::npos ? subKey : subKey.substr(slash + 1);
    if (parentPath.empty()) {
        // A key right below a root: a handle to the root itself carries no view, so empty the
        // key through a handle opened in the view, then delete it in that view.
        UniqueHKey key = Open(root, subKey, KEY_ALL_ACCESS, view);
        if (!key) return !KeyExists(root, subKey, view);
        ::RegDeleteTreeW(key.get(), nullptr);
        key.reset();
        const LONG r = ::RegDeleteKeyExW(root, subKey.c_str(), ViewFlag(view), 0);
        return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND || !KeyExists(root, subKey, view);
    }
    UniqueHKey parent = Open(root, parentPath, KEY_ALL_ACCESS, view);
    if (!parent) return !KeyExists(root, subKey, view);
    LONG r = ::RegDeleteTreeW(parent.get(), leaf.c_str());
    if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) {
        // RegDeleteTreeW leaves the key itself; remove it in the same view.
        r = ::RegDeleteKeyExW(parent.get(), leaf.c_str(), ViewFlag(view), 0);
    }
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND || !KeyExists(root, subKey, view);
}

bool KeyExists(HKEY root, const std::wstring& subKey, View view) {
    return static_cast<bool>(Open(root, subKey, KEY_QUERY_VALUE, view));
}

std::vector<Value> EnumValues(HKEY root, const std::wstring& subKey, View view) {
    std::vector<Value> values;
    UniqueHKey key = Open(root, subKey, KEY_QUERY_VALUE, view);
    if (!key) return values;
    std::vector<wchar_t> name(16384);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = 0;
        LONG r = ::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, &size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA) break;
        Value v;
        v.data.resize(size);
        nameLength = static_cast<DWORD>(name.size());
        r = ::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &v.type,
                            v.data.empty() ? nullptr : v.data.data(), &size);
        if (r != ERROR_SUCCESS) continue;
        v.data.resize(size);
        v.name.assign(name.data(), nameLength);
        values.push_back(std::move(v));
    }
    return values;
}

std::wstring ValueText(const Value& value) {
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t));
    size_t zero = text.find(L'\0');
    if (zero != std::wstring::npos) text.resize(zero);
    return text;
}

}  // namespace voro::reg
