#include "config/UninstallRootDirList.h"
#include "config/ResourceUnpack.h"
#include "config/XMLArchive.h"
#include <cwchar>

namespace {

constexpr wchar_t kDirSection[] = L"RootDirFiles/Dir";
constexpr wchar_t kFileSection[] = L"RootDirFiles/File";
constexpr wchar_t kItemTag[] = L"Item";

}  // namespace

std::wstring UpperCaseName(const std::wstring& name) {
    std::wstring upper = name;
    if (!upper.empty()) ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    return upper;
}

int CUninstallRootDirList::LoadFromResource(HINSTANCE instance, const wchar_t* name, const wchar_t* type) {
    CResourceUnpack resource;
    if (!resource.Init(instance, name, type)) return 0;
    std::wstring path;
    if (!GetFreeTempName(path)) return 0;
    bool written = resource.WriteToFile(path.c_str());
    int result = written ? LoadFromFile(path.c_str()) : 0;
    ::DeleteFileW(path.c_str());
    return result;
}

int CUninstallRootDirList::LoadFromFile(const wchar_t* path) {
    if (!path) return 0;
    CXMLArchive document;
    if (FAILED(document.Load(path))) return 0;

    m_mapEntries.clear();
    m_nCount = 0;
    struct Section {
        const wchar_t* path;
        int isFolder;
    };
    for (const Section& section : {Section{kDirSection, 1}, Section{kFileSection, 0}}) {
        CXMLArchiveItem container = document.SelectFirst(section.path);
        if (container.IsEmpty()) continue;
        CXMLArchiveItemList items = container.GetElementsByTagName(kItemTag);
        for (int i = 0; i < items.GetCount(); ++i) {
            CXMLArchiveItem item = items.GetItem(i);
            std::wstring name;
            int optional = 0;
            item.GetAttributeString(L"Name", name);
            item.GetAttributeInt(L"optional", optional, 0);
            // A record holds 259 characters; no install folder entry has a longer name.
            if (name.size() >= MAX_PATH) continue;
            Add(name, section.isFolder, optional);
        }
    }
    return 1;
}

void CUninstallRootDirList::Add(const std::wstring& name, int isFolder, int optional) {
    Entry& entry = m_mapEntries[UpperCaseName(name)];
    entry.name = name;
    entry.isFolder = isFolder;
    entry.optional = optional;
    m_nCount = static_cast<int>(m_mapEntries.size());
}

int CUninstallRootDirList::GetCount() {
    return m_nCount;
}

int CUninstallRootDirList::GetItem(int index, RootDirRecord* record) {
    if (!record || index < 0 || index >= m_nCount) return 0;
    auto it = m_mapEntries.begin();
    std::advance(it, index);
    record->isFolder = it->second.isFolder;
    record->optional = it->second.optional;
    const std::wstring& name = it->second.name;
    size_t length = name.size() < MAX_PATH ? name.size() : MAX_PATH - 1;
    wmemcpy(record->name, name.c_str(), length);
    record->name[length] = L'\0';
    return 1;
}

int CUninstallRootDirList::Remove(const wchar_t* name) {
    if (!name) return 0;
    m_mapEntries.erase(UpperCaseName(name));
    m_nCount = static_cast<int>(m_mapEntries.size());
    return 1;
}

int CUninstallRootDirList::Contains(const wchar_t* name) {
    if (!name) return 0;
    return m_mapEntries.count(UpperCaseName(name)) ? 1 : 0;
}
