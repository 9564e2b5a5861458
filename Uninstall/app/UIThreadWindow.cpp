#include "app/UIThreadWindow.h"
#include "app/Messages.h"
#include <atomic>

namespace {
constexpr wchar_t kClassName[] = L"VoroUIThreadWindow";
std::atomic<HWND> g_window{nullptr};
}  // namespace

HWND CUIThreadWindow::Window() { return g_window.load(); }

int CUIThreadWindow::Create(HINSTANCE instance) {
    if (g_window.load()) return 1;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CUIThreadWindow::WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    ::RegisterClassExW(&wc);  // fails harmlessly when already registered
    HWND hwnd = ::CreateWindowExW(0, kClassName, L"", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 0;
    g_window.store(hwnd);
    return 1;
}

void CUIThreadWindow::RunOnUIThread(ISimpleBind* bind) {
    if (HWND hwnd = g_window.load())
        ::SendMessageW(hwnd, UM_RUN_BIND, reinterpret_cast<WPARAM>(bind), 0);
}

LRESULT CALLBACK CUIThreadWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UM_RUN_BIND) {
        if (auto* bind = reinterpret_cast<ISimpleBind*>(wParam)) {
            try {
                bind->Run();
            } catch (...) {  // nothing may unwind through the window procedure
            }
        }
        return 1;
    }
    if (msg == WM_NCDESTROY) {
        HWND expected = hwnd;
        g_window.compare_exchange_strong(expected, nullptr);
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}
