// Owning COM interface pointer and BSTR, movable and not copyable.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace voro {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            m_p = std::exchange(o.m_p, nullptr);
        }
        return *this;
    }
    T* get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // For APIs that return an interface through an out parameter.
    T** put() noexcept { reset(); return &m_p; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (m_p) std::exchange(m_p, nullptr)->Release();
    }

private:
    T* m_p = nullptr;
};

class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(const wchar_t* text) : m_b(::SysAllocString(text)) {}
    ~Bstr() { ::SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const noexcept { return m_b; }
    BSTR* put() noexcept { ::SysFreeString(m_b); m_b = nullptr; return &m_b; }

private:
    BSTR m_b = nullptr;
};

// CoInitialize for a scope; CoUninitialize only when it succeeded.
class ScopedCoInit {
public:
    ScopedCoInit() : m_hr(::CoInitialize(nullptr)) {}
    ~ScopedCoInit() { if (SUCCEEDED(m_hr)) ::CoUninitialize(); }
    ScopedCoInit(const ScopedCoInit&) = delete;
    ScopedCoInit& operator=(const ScopedCoInit&) = delete;
    bool ok() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

}  // namespace voro
