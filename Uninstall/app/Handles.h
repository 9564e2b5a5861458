// Owning wrappers for Win32 handles: one movable, non-copyable type per handle kind.
// A borrowed handle is passed around as the plain Win32 value.
#pragma once
#include <windows.h>
#include <utility>

namespace voro {

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type h) noexcept : m_h(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : m_h(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    Type get() const noexcept { return m_h; }
    bool valid() const noexcept { return Traits::Valid(m_h); }
    explicit operator bool() const noexcept { return valid(); }
    Type release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    void reset(Type h = Traits::Invalid()) noexcept {
        if (Traits::Valid(m_h)) Traits::Close(m_h);
        m_h = h;
    }
    // For APIs that return the handle through an out parameter.
    Type* put() noexcept { reset(); return &m_h; }

private:
    Type m_h = Traits::Invalid();
};

struct KernelHandleTraits {  // handles closed with CloseHandle; null means none
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits : KernelHandleTraits {  // CreateFileW returns INVALID_HANDLE_VALUE
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Valid(Type h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct WindowTraits {
    using Type = HWND;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::DestroyWindow(h); }
};
struct LocalMemTraits {  // memory the system allocated with LocalAlloc
    using Type = HLOCAL;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;  // events, mutexes, threads, processes
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
using UniqueHKey = UniqueHandle<RegKeyTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueLocal = UniqueHandle<LocalMemTraits>;

}  // namespace voro
