// The registry readers' rules for strings: 260-character buffers, string types only.
#include "app/Registry.h"
#include <gtest/gtest.h>

namespace {

constexpr wchar_t kKey[] = L"Software\\VoroRegistryTest";

void SetRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

// The system adds a terminator the caller left out when the next character is zero; a guard
// character keeps an unterminated value unterminated.
void SetText(const wchar_t* name, DWORD type, const std::wstring& text, bool terminated) {
    std::wstring data = terminated ? text : text + L'X';
    SetRaw(name, type, data.c_str(), static_cast<DWORD>((text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)));
}

TEST(RegistryReadString, FollowsTheBufferAndTypeRules) {
    struct Case {
        const wchar_t* name;
        DWORD type;
        std::wstring text;
        bool terminated;
        bool readable;
        std::wstring expected;
    };
    const std::wstring x259(259, L'x'), x260(260, L'x');
    const Case cases[] = {
        {L"plain", REG_SZ, L"C:\\Program Files\\Voro", true, true, L"C:\\Program Files\\Voro"},
        {L"empty", REG_SZ, L"", true, true, L""},
        {L"fits", REG_SZ, x259, true, true, x259},
        {L"fitsUnterminated", REG_SZ, x259, false, true, x259},
        {L"tooLong", REG_SZ, x260, true, false, L""},
        {L"tooLongUnterminated", REG_SZ, x260, false, false, L""},
        {L"expand", REG_EXPAND_SZ, L"%TEMP%\\voro", true, true, L"%TEMP%\\voro"},  // not expanded
        {L"multi", REG_MULTI_SZ, std::wstring(L"a\0b\0", 4), true, false, L""},
        {L"binary", REG_BINARY, L"abc", true, false, L""},
    };
    for (const Case& c : cases) SetText(c.name, c.type, c.text, c.terminated);
    DWORD number = 7;
    SetRaw(L"dword", REG_DWORD, &number, sizeof(number));

    for (const Case& c : cases) {
        std::wstring value = L"untouched";
        bool read = voro::reg::ReadString(HKEY_CURRENT_USER, kKey, c.name, value);
        EXPECT_EQ(read, c.readable) << c.name;
        if (c.readable) {
            EXPECT_EQ(value, c.expected) << c.name;
        }
    }
    std::wstring value;
    EXPECT_FALSE(voro::reg::ReadString(HKEY_CURRENT_USER, kKey, L"dword", value));
    EXPECT_FALSE(voro::reg::ReadString(HKEY_CURRENT_USER, kKey, L"missing", value));
    EXPECT_FALSE(voro::reg::ReadString(HKEY_CURRENT_USER, L"Software\\VoroRegistryTestMissing", L"plain", value));
}

TEST(RegistryReadDword, AcceptsOnlyDwordData) {
    DWORD number = 0x12345678;
    unsigned long long wide = 5;
    SetRaw(L"dword", REG_DWORD, &number, sizeof(number));
    SetRaw(L"qword", REG_QWORD, &wide, sizeof(wide));
    SetText(L"text", REG_SZ, L"5", true);
    DWORD value = 0;
    EXPECT_TRUE(voro::reg::ReadDword(HKEY_CURRENT_USER, kKey, L"dword", value));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_FALSE(voro::reg::ReadDword(HKEY_CURRENT_USER, kKey, L"qword", value));
    EXPECT_FALSE(voro::reg::ReadDword(HKEY_CURRENT_USER, kKey, L"text", value));
    EXPECT_FALSE(voro::reg::ReadDword(HKEY_CURRENT_USER, kKey, L"missing", value));
}

TEST(RegistryViews, MachineKeysOfTheTwoViewsAreApart) {
    // The 32-bit view is what the shipped 32-bit program sees; a value written there must not
    // appear in the 64-bit view.
    const wchar_t* key = L"SOFTWARE\\VoroRegistryViewTest";
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, key, L"v", L"32", voro::reg::View::Wow32));
    std::wstring value;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, key, L"v", value, voro::reg::View::Wow32));
    EXPECT_EQ(value, L"32");
    EXPECT_FALSE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, key, L"v", value, voro::reg::View::Wow64));
}

}  // namespace
