// The product's own top-level folders and files of the install folder, from
// UninstallRootDirFileList.xml of the setup package. Names are matched without regard to case.
#pragma once
#include <windows.h>
#include <map>
#include <string>

struct RootDirRecord {
    wchar_t name[MAX_PATH];
    int isFolder;  // 1 for a folder entry, 0 for a file entry
    int optional;
};

class IUninstallRootDirList {
public:
    virtual int LoadFromResource(HINSTANCE instance, const wchar_t* name, const wchar_t* type) = 0;
    virtual int LoadFromFile(const wchar_t* path) = 0;
    virtual int GetCount() = 0;
    // Entries in the order of their upper-cased names.
    virtual int GetItem(int index, RootDirRecord* record) = 0;
    virtual int Remove(const wchar_t* name) = 0;
    virtual int Contains(const wchar_t* name) = 0;
    virtual ~IUninstallRootDirList() = default;
};

class CUninstallRootDirList : public IUninstallRootDirList {
public:
    CUninstallRootDirList() = default;
    ~CUninstallRootDirList() override = default;
    CUninstallRootDirList(const CUninstallRootDirList&) = delete;
    CUninstallRootDirList& operator=(const CUninstallRootDirList&) = delete;

    int LoadFromResource(HINSTANCE instance, const wchar_t* name, const wchar_t* type) override;
    // Replaces the list when the document loads; a document that does not load keeps the old one.
    int LoadFromFile(const wchar_t* path) override;
    int GetCount() override;
    int GetItem(int index, RootDirRecord* record) override;
    int Remove(const wchar_t* name) override;
    int Contains(const wchar_t* name) override;

private:
    struct Entry {
        std::wstring name;
        int isFolder = 0;
        int optional = 0;
    };
    void Add(const std::wstring& name, int isFolder, int optional);

    std::map<std::wstring, Entry> m_mapEntries;  // upper-cased name -> entry
    int m_nCount = 0;
};

// The key names are compared by: the name upper-cased the way Windows does it.
std::wstring UpperCaseName(const std::wstring& name);
