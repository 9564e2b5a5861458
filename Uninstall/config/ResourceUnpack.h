// Copies a module resource to a file, or unpacks a 7z archive resource into a fresh temp folder.
#pragma once
#include <windows.h>
#include <functional>
#include <string>

// "{GUID}.tmp" for a GUID: upper-case hexadecimal except the third group, which is lower case.
std::wstring FormatTempGuidName(const GUID& guid);

// A name "{GUID}.tmp" in the temp directory that does not exist yet; up to 10 fresh GUIDs are
// tried. False when every one of them is taken.
bool GetFreeTempName(std::wstring& path);

// Hands the bytes to write() in 4096-byte blocks followed by one final partial block, and stops at
// the first block write() refuses. True when every block was written.
bool WriteInBlocks(const BYTE* data, size_t size, const std::function<bool(const BYTE*, DWORD)>& write);

class CResourceUnpack {
public:
    static constexpr DWORD kBlockSize = 4096;

    CResourceUnpack() = default;
    virtual ~CResourceUnpack() = default;
    CResourceUnpack(const CResourceUnpack&) = delete;
    CResourceUnpack& operator=(const CResourceUnpack&) = delete;

    // Locates the resource and remembers its bytes (owned by the module) and size.
    bool Init(HINSTANCE instance, const wchar_t* name, const wchar_t* type);
    void Reset();
    // Replaces any file at the path by one holding the resource bytes. False when the file cannot
    // be created or a write fails (the file then holds what was written).
    bool WriteToFile(const wchar_t* path) const;
    // Writes the resource to a temporary archive file and unpacks it into a new temporary folder
    // with the archive library; on success the folder is the output and the archive file is
    // deleted. On failure both stay where they are.
    bool Extract(std::wstring& folder) const;

    const BYTE* Data() const { return m_pData; }
    int Size() const { return m_nSize; }

private:
    const BYTE* m_pData = nullptr;
    int m_nSize = 0;
};
