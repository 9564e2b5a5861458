#include "windows/SilentFlow.h"
#include "app/AppModule.h"
#include "app/InstanceMutex.h"
#include "app/Messages.h"
#include "app/SmartLogger.h"
#include "config/UninstallConfig.h"
#include "windows/UninstallEndReport.h"

namespace {

constexpr wchar_t kFlowWindowClass[] = L"VoroSilentFlowWnd";
constexpr WPARAM kFromQuestionnaire = 3;
constexpr WPARAM kFromProgress = 4;

}  // namespace

CSilentFlow::CSilentFlow(IUninstallTask* task) : m_task(task) {}

CSilentFlow::~CSilentFlow() {
    if (m_hwnd) ::DestroyWindow(m_hwnd);
}

int CSilentFlow::Run() {
    HINSTANCE instance = CAppModule::Global().Instance();
    if (!instance) instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &CSilentFlow::WndProc;
    wc.hInstance = instance;
    wc.lpszClassName = kFlowWindowClass;
    ::RegisterClassExW(&wc);  // fails harmlessly when a previous flow registered it
    m_hwnd = ::CreateWindowExW(0, kFlowWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!m_hwnd) return -1;

    // The questionnaire of a silent run asks nothing and hands over at once.
    ::PostMessageW(m_hwnd, UM_STEP_DONE, kFromQuestionnaire, 1);
    MSG msg;
    int result = 0;
    for (;;) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            result = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return result;
}

LRESULT CALLBACK CSilentFlow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CSilentFlow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == UM_STEP_DONE) {
        self->OnStepDone(wParam, lParam);
        return 0;
    }
    if (msg == WM_NCDESTROY && self) {
        self->m_hwnd = nullptr;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

void CSilentFlow::OnStepDone(WPARAM sender, LPARAM proceed) {
    if (proceed != 0 && sender == kFromQuestionnaire) {
        // The progress window: silent, so it only starts the engine.
        m_task->StartUninstall(this);
        return;
    }
    OnClose();
}

void CSilentFlow::OnUninstallStart() {
    WriteLog(L"OnUninstallStart callback...");
    m_strInstallDate = voro::endreport::ReadInstallDate();
}

void CSilentFlow::OnUninstallProgress(int percent) { WriteLog(L"Progress: %d", percent); }

void CSilentFlow::OnUninstallEnd() {
    if (!m_endEvent) m_endEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    voro::endreport::ReportUninstallEnd(m_strInstallDate);
    if (m_hwnd) ::PostMessageW(m_hwnd, UM_STEP_DONE, kFromProgress, 0);
}

void CSilentFlow::OnRealInstallEnd() {
    if (m_endEvent) ::SetEvent(m_endEvent.get());
    WriteLog(L"CInstallingModel::OnRealInstallEnd");
}

void CSilentFlow::OnClose() {
    if (m_bClosed) return;
    m_bClosed = true;
    CUninstallConfig::Instance()->Release();
    CInstanceMutex::Global().ReleaseAll();
    WriteLog(L"CMainWnd::OnClose");
    if (m_endEvent) ::WaitForSingleObject(m_endEvent.get(), kEndWaitMs);
    WriteLog(L"CMainWnd::OnClose finish");
    m_task->DetachCallback();
    if (m_hwnd) ::DestroyWindow(m_hwnd);
    ::PostQuitMessage(0);
}
