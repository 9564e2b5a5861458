// The global accessors of the machine identifiers and the object behind the mid2 accessor.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include "app/Locks.h"
#include <string>

// Extension interface shared by the maker's components; every operation is optional.
class IExtend : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE ExtendOp1(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp2(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp3(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp4(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp5(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp6(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp7(WPARAM wParam, LPARAM lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExtendOp8(WPARAM wParam, LPARAM lParam, DWORD extra) = 0;
};

// Implements nothing: every operation answers E_NOTIMPL; the seventh is the eighth without
// its extra argument.
class CEmptyExtendImpl : public IExtend {
public:
    HRESULT STDMETHODCALLTYPE ExtendOp1(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp2(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp3(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp4(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp5(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp6(WPARAM, LPARAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExtendOp7(WPARAM wParam, LPARAM lParam) override { return ExtendOp8(wParam, lParam, 0); }
    HRESULT STDMETHODCALLTYPE ExtendOp8(WPARAM, LPARAM, DWORD) override { return E_NOTIMPL; }
};

// {88D6FFD4-88B6-4943-AF29-C5CA67BAFCD1}
extern const IID IID_INewMID;

class INewMID : public IUnknown {
public:
    // Copies the process's mid2 into the buffer (truncated to the capacity).
    virtual HRESULT STDMETHODCALLTYPE GetMid2(wchar_t* buffer, size_t capacity) = 0;
};

// The one static object behind GetMid2; its reference count is fixed.
class CTvnMID2 : public CEmptyExtendImpl, public INewMID {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetMid2(wchar_t* buffer, size_t capacity) override;

private:
    _BaseModule::CCriticalSection m_lock;
    bool m_bComputed = false;
    wchar_t m_szMid2[50] = {};
};

// The mid into the caller's buffer (at most capacity - 1 characters); false only for a null
// buffer or a zero capacity.
bool GetMid(wchar_t* buffer, size_t capacity);
// The mid2 (44 characters): E_INVALIDARG for a null buffer or a capacity below 50.
HRESULT GetMid2(wchar_t* buffer, size_t capacity);

// Convenience forms; empty texts on failure.
std::wstring GetMid();
std::wstring GetMid2();

namespace mid {
// The process-wide mid2 text, computed once with the machine's collectors and elevation.
std::string ProcessMid2();
}  // namespace mid
