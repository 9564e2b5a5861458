#include "config/ResourceUnpack.h"
#include "app/GuidName.h"
#include "app/Handles.h"
#include "config/ArchiveLibrary.h"
#include <objbase.h>
#include <shlobj.h>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

constexpr int kTempNameAttempts = 10;
constexpr DWORD kTempPathCapacity = 1024;

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Deletes whatever file has the name, then creates it anew for writing.
voro::UniqueFile CreateFreshFile(const wchar_t* path) {
    ::DeleteFileW(path);
    return voro::UniqueFile(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteResourceBytes(HANDLE file, const BYTE* data, size_t size) {
    BYTE buffer[CResourceUnpack::kBlockSize];
    return WriteInBlocks(data, size, [&](const BYTE* block, DWORD count) {
        memcpy(buffer, block, count);
        DWORD written = 0;
        return ::WriteFile(file, buffer, count, &written, nullptr) && written == count;
    });
}

}  // namespace

std::wstring FormatTempGuidName(const GUID& g) { return voro::FormatGuidName(g) + L".tmp"; }

bool GetFreeTempName(std::wstring& path) {
    std::vector<wchar_t> temp(kTempPathCapacity + 1, L'\0');
    DWORD length = ::GetTempPathW(kTempPathCapacity, temp.data());
    if (length == 0 || length >= kTempPathCapacity) return false;
    std::wstring folder(temp.data(), length);
    if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        GUID guid;
        if (FAILED(::CoCreateGuid(&guid))) continue;
        std::wstring candidate = folder + FormatTempGuidName(guid);
        if (!PathExists(candidate)) {
            path = candidate;
            return true;
        }
    }
    return false;
}

bool WriteInBlocks(const BYTE* data, size_t size, const std::function<bool(const BYTE*, DWORD)>& write) {
    size_t offset = 0;
    while (size - offset >= CResourceUnpack::kBlockSize) {
        if (!write(data + offset, CResourceUnpack::kBlockSize)) return false;
        offset += CResourceUnpack::kBlockSize;
    }
    if (offset < size && !write(data + offset, static_cast<DWORD>(size - offset))) return false;
    return true;
}

bool CResourceUnpack::Init(HINSTANCE instance, const wchar_t* name, const wchar_t* type) {
    Reset();
    HRSRC resource = ::FindResourceW(instance, name, type);
    if (!resource) return false;
    DWORD size = ::SizeofResource(instance, resource);
    HGLOBAL loaded = ::LoadResource(instance, resource);
    if (!loaded) return false;
    const void* data = ::LockResource(loaded);
    if (!data && size > 0) return false;
    m_pData = static_cast<const BYTE*>(data);
    m_nSize = static_cast<int>(size);
    return true;
}

void CResourceUnpack::Reset() {
    m_pData = nullptr;
    m_nSize = 0;
}

bool CResourceUnpack::WriteToFile(const wchar_t* path) const {
    if (!path || !*path) return false;
    voro::UniqueFile file = CreateFreshFile(path);
    if (!file) return false;
    return WriteResourceBytes(file.get(), m_pData, m_pData ? static_cast<size_t>(m_nSize) : 0);
}

bool CResourceUnpack::Extract(std::wstring& folder) const {
    std::wstring archive;
    if (!GetFreeTempName(archive)) return false;
    if (!WriteToFile(archive.c_str())) return false;

    std::wstring target;
    if (!GetFreeTempName(target)) return false;
    if (::SHCreateDirectory(nullptr, target.c_str()) != ERROR_SUCCESS) return false;

    if (!ExtractArchive(archive.c_str(), target.c_str())) return false;
    folder = target;
    ::DeleteFileW(archive.c_str());
    return true;
}
