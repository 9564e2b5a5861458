#include "config/ArchiveLibrary.h"
#include "app/Handles.h"
#include <ole2.h>
#include <initguid.h>
#include <Archive/IArchive.h>
#include <cwctype>
#include <vector>

namespace {

HMODULE g_archiveLibrary = nullptr;  // never freed: the library serves the whole run

// Handler class of the 7z format inside the library.
DEFINE_GUID(CLSID_Format7z, 0x23170F69, 0x40C1, 0x278A, 0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00);

using CreateObjectFn = HRESULT(WINAPI*)(const GUID* classId, const GUID* interfaceId, void** object);

// Reference counting shared by the small COM objects handed to the library.
template <typename Interface>
class CComObjectBase : public Interface {
public:
    virtual ~CComObjectBase() = default;
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() noexcept override {
        LONG refs = ::InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

protected:
    HRESULT Answer(REFIID iid, void** object, std::initializer_list<const IID*> known) {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = static_cast<Interface*>(this);
        } else {
            for (const IID* candidate : known)
                if (iid == *candidate) *object = static_cast<Interface*>(this);
        }
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    LONG m_refs = 1;
};

// Owning pointer for the library's interfaces.
template <typename T>
class CComRef {
public:
    CComRef() = default;
    explicit CComRef(T* p) : m_p(p) {}
    ~CComRef() { if (m_p) m_p->Release(); }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    void** put() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};

class CPropVariant {
public:
    CPropVariant() { ::PropVariantInit(&m_value); }
    ~CPropVariant() { ::PropVariantClear(&m_value); }
    CPropVariant(const CPropVariant&) = delete;
    CPropVariant& operator=(const CPropVariant&) = delete;
    PROPVARIANT* put() { ::PropVariantClear(&m_value); return &m_value; }
    const PROPVARIANT& get() const { return m_value; }

private:
    PROPVARIANT m_value;
};

class CInFileStream : public CComObjectBase<IInStream> {
public:
    explicit CInFileStream(voro::UniqueFile file) : m_file(std::move(file)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        return Answer(iid, object, {&IID_ISequentialInStream, &IID_IInStream});
    }
    STDMETHODIMP Read(void* data, UInt32 size, UInt32* processed) noexcept override {
        DWORD got = 0;
        BOOL ok = ::ReadFile(m_file.get(), data, size, &got, nullptr);
        if (processed) *processed = got;
        return ok ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
    }
    STDMETHODIMP Seek(Int64 offset, UInt32 origin, UInt64* position) noexcept override {
        if (origin > FILE_END) return STG_E_INVALIDFUNCTION;
        LARGE_INTEGER distance;
        distance.QuadPart = offset;
        LARGE_INTEGER now = {};
        if (!::SetFilePointerEx(m_file.get(), distance, &now, origin)) return HRESULT_FROM_WIN32(::GetLastError());
        if (position) *position = static_cast<UInt64>(now.QuadPart);
        return S_OK;
    }

private:
    voro::UniqueFile m_file;
};

class COutFileStream : public CComObjectBase<ISequentialOutStream> {
public:
    explicit COutFileStream(voro::UniqueFile file) : m_file(std::move(file)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        return Answer(iid, object, {&IID_ISequentialOutStream});
    }
    STDMETHODIMP Write(const void* data, UInt32 size, UInt32* processed) noexcept override {
        DWORD written = 0;
        BOOL ok = ::WriteFile(m_file.get(), data, size, &written, nullptr);
        if (processed) *processed = written;
        return ok ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
    }

private:
    voro::UniqueFile m_file;
};

class COpenCallback : public CComObjectBase<IArchiveOpenCallback> {
public:
    // Without ICryptoGetTextPassword an encrypted archive cannot be opened.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        return Answer(iid, object, {&IID_IArchiveOpenCallback});
    }
    STDMETHODIMP SetTotal(const UInt64*, const UInt64*) noexcept override { return S_OK; }
    STDMETHODIMP SetCompleted(const UInt64*, const UInt64*) noexcept override { return S_OK; }
};

// Creates the sub-folders of a relative path below the root, one segment after the other.
bool CreateFoldersBelow(const std::wstring& root, const std::wstring& relative) {
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find(L'\\', start);
        if (end == std::wstring::npos) end = relative.size();
        std::wstring folder = root + L"\\" + relative.substr(0, end);
        if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
        DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        start = end + 1;
    }
    return true;
}

class CExtractCallback : public CComObjectBase<IArchiveExtractCallback> {
public:
    CExtractCallback(IInArchive* archive, std::wstring folder) : m_archive(archive), m_folder(std::move(folder)) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
        return Answer(iid, object, {&IID_IProgress, &IID_IArchiveExtractCallback});
    }
    STDMETHODIMP SetTotal(UInt64) noexcept override { return S_OK; }
    STDMETHODIMP SetCompleted(const UInt64*) noexcept override { return S_OK; }
    STDMETHODIMP PrepareOperation(Int32) noexcept override { return S_OK; }
    STDMETHODIMP SetOperationResult(Int32 result) noexcept override {
        if (result != NArchive::NExtract::NOperationResult::kOK) m_bFailed = true;
        return S_OK;
    }
    STDMETHODIMP GetStream(UInt32 index, ISequentialOutStream** stream, Int32 mode) noexcept override {
        if (!stream) return E_POINTER;
        *stream = nullptr;
        if (mode != NArchive::NExtract::NAskMode::kExtract) return S_OK;
        try {
            return OpenItem(index, stream);
        } catch (...) {
            m_bFailed = true;
            return E_OUTOFMEMORY;
        }
    }
    bool Failed() const { return m_bFailed; }

private:
    HRESULT OpenItem(UInt32 index, ISequentialOutStream** stream) {
        CPropVariant path;
        if (FAILED(m_archive->GetProperty(index, kpidPath, path.put())) || path.get().vt != VT_BSTR ||
            !path.get().bstrVal) {
            return Refuse();
        }
        std::wstring relative(path.get().bstrVal, ::SysStringLen(path.get().bstrVal));
        if (!IsSafeArchiveItemPath(relative)) return Refuse();
        for (wchar_t& c : relative)
            if (c == L'/') c = L'\\';
        while (!relative.empty() && relative.back() == L'\\') relative.pop_back();
        std::wstring full = m_folder + L"\\" + relative;
        if (full.size() >= MAX_PATH) return Refuse();

        CPropVariant isDir;
        if (FAILED(m_archive->GetProperty(index, kpidIsDir, isDir.put()))) return Refuse();
        if (isDir.get().vt == VT_BOOL && isDir.get().boolVal != VARIANT_FALSE)
            return CreateFoldersBelow(m_folder, relative) ? S_OK : Refuse();

        size_t slash = relative.rfind(L'\\');
        if (slash != std::wstring::npos && !CreateFoldersBelow(m_folder, relative.substr(0, slash))) return Refuse();
        voro::UniqueFile file(::CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return Refuse();
        *stream = new COutFileStream(std::move(file));
        return S_OK;
    }
    HRESULT Refuse() {
        m_bFailed = true;
        return E_ABORT;
    }

    IInArchive* m_archive;  // borrowed: the archive outlives the extraction
    std::wstring m_folder;
    bool m_bFailed = false;
};

bool IsReservedDeviceName(const std::wstring& segment) {
    std::wstring base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames)
        if (base == name) return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0))
        return base[3] >= L'0' && base[3] <= L'9';
    return false;
}

}  // namespace

bool LoadArchiveLibrary(const wchar_t* path) {
    if (g_archiveLibrary) return true;
    if (!path) return false;
    g_archiveLibrary = ::LoadLibraryW(path);
    return g_archiveLibrary != nullptr;
}

HMODULE ArchiveLibraryModule() {
    return g_archiveLibrary;
}

bool IsSafeArchiveItemPath(const std::wstring& path) {
    if (path.empty() || path.front() == L'\\' || path.front() == L'/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = path.size();
        std::wstring segment = path.substr(start, end - start);
        bool last = end == path.size();
        // Only a directory item may end in a separator; an empty segment elsewhere is refused.
        if (segment.empty() && !(last && start > 0)) return false;
        if (!segment.empty()) {
            // Windows drops trailing dots and spaces, so "..", ". ." and "..." all mean a parent.
            size_t kept = segment.find_last_not_of(L". ");
            if (kept == std::wstring::npos) return false;
            for (wchar_t c : segment)
                if (c < 0x20 || wcschr(L":*?\"<>|", c)) return false;
            if (IsReservedDeviceName(segment)) return false;
        }
        start = end + 1;
    }
    return true;
}

bool ExtractArchive(const wchar_t* archivePath, const wchar_t* folder) {
    if (!g_archiveLibrary || !archivePath || !folder || !*folder) return false;
    auto createObject = reinterpret_cast<CreateObjectFn>(
        reinterpret_cast<void*>(::GetProcAddress(g_archiveLibrary, "CreateObject")));
    if (!createObject) return false;

    CComRef<IInArchive> archive;
    if (createObject(&CLSID_Format7z, &IID_IInArchive, archive.put()) != S_OK || !archive.get()) return false;

    voro::UniqueFile file(::CreateFileW(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    CComRef<IInStream> input(new CInFileStream(std::move(file)));
    CComRef<IArchiveOpenCallback> openCallback(new COpenCallback());
    const UInt64 maxCheckStart = 1 << 22;
    if (archive->Open(input.get(), &maxCheckStart, openCallback.get()) != S_OK) return false;

    std::wstring root(folder);
    while (root.size() > 1 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    auto* extract = new CExtractCallback(archive.get(), root);
    CComRef<IArchiveExtractCallback> extractCallback(extract);
    HRESULT result = archive->Extract(nullptr, static_cast<UInt32>(-1), 0, extractCallback.get());
    archive->Close();
    return result == S_OK && !extract->Failed();
}
