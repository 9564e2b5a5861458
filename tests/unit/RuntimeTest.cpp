#include "app/InstanceMutex.h"
#include "app/Messages.h"
#include "app/Singleton.h"
#include "app/Threads.h"
#include "app/UIThreadWindow.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST_CHILD_ROLE(SecondInstance) {
    return CInstanceMutex().CheckSingleInstance();
}

LRESULT CALLBACK CountActivations(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == UM_ACTIVATE_INSTANCE) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, ::GetWindowLongPtrW(hwnd, GWLP_USERDATA) + 1);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

TEST(InstanceMutex, SecondProcessIsRefusedAndActivatesTheFirstWindow) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountActivations;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kMainWindowClassName;
    ASSERT_TRUE(::RegisterClassW(&wc));
    HWND main = ::CreateWindowExW(0, kMainWindowClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_TRUE(main);

    CInstanceMutex guard;
    ASSERT_EQ(guard.CheckSingleInstance(), 1);
    EXPECT_EQ(testsupport::RunChild("SecondInstance", L""), 0);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return ::GetWindowLongPtrW(main, GWLP_USERDATA) == 1; }, 5000));

    guard.ReleaseAll();
    EXPECT_EQ(testsupport::RunChild("SecondInstance", L""), 1);
    ::DestroyWindow(main);
}

TEST(InstanceMutex, PassesWhenTheGuardCannotBeCreated) {
    // An event holding the name makes CreateMutexW fail.
    HANDLE squatter = ::CreateEventW(nullptr, TRUE, FALSE, kInstanceMutexName);
    ASSERT_TRUE(squatter);
    CInstanceMutex guard;
    EXPECT_EQ(guard.CheckSingleInstance(), 1);
    ::CloseHandle(squatter);
}

class RecordingCallback : public IThreadCallback {
public:
    void Run(int parameter) override {
        int now = ++active;
        if (now > maxActive) maxActive = now;
        parameters.push_back(parameter);
        threadId = ::GetCurrentThreadId();
        ::SetEvent(entered);
        ::WaitForSingleObject(release, 10000);
        --active;
        ::SetEvent(left);
    }
    HANDLE entered = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE left = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> active{0};
    int maxActive = 0;
    std::vector<int> parameters;
    DWORD threadId = 0;
};

TEST(XThread, StartDuringARunIsRefusedAndRunsNeverOverlap) {
    RecordingCallback callback;
    {
        CXThread worker;
        ASSERT_EQ(worker.Start(7, &callback), 1);
        ASSERT_EQ(::WaitForSingleObject(callback.entered, 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(worker.IsRunning());
        EXPECT_EQ(worker.Start(8, &callback), 0);
        ::SetEvent(callback.release);
        ASSERT_EQ(::WaitForSingleObject(callback.left, 5000), WAIT_OBJECT_0);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return !worker.IsRunning(); }, 5000));
        // Nothing was queued by the refused start.
        EXPECT_EQ(::WaitForSingleObject(callback.entered, 300), static_cast<DWORD>(WAIT_TIMEOUT));

        ASSERT_EQ(worker.Start(9, &callback), 1);
        ASSERT_EQ(::WaitForSingleObject(callback.entered, 5000), WAIT_OBJECT_0);
        ::SetEvent(callback.release);
        ASSERT_EQ(::WaitForSingleObject(callback.left, 5000), WAIT_OBJECT_0);
    }  // destruction ends the worker
    EXPECT_EQ(callback.parameters, (std::vector<int>{7, 9}));
    EXPECT_EQ(callback.maxActive, 1);
    EXPECT_NE(callback.threadId, ::GetCurrentThreadId());
}

TEST(XThread, StartFromManyThreadsTriggersOneRunAtATime) {
    RecordingCallback callback;
    CXThread worker;
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] { accepted += worker.Start(i, &callback); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(accepted.load(), 1);
    ASSERT_EQ(::WaitForSingleObject(callback.entered, 5000), WAIT_OBJECT_0);
    ::SetEvent(callback.release);
    ASSERT_EQ(::WaitForSingleObject(callback.left, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(callback.parameters.size(), 1u);
}

struct Target {
    void Mark() { uiThread = ::GetCurrentThreadId(); }
    void Add(int n) { sum += n; }
    DWORD uiThread = 0;
    int sum = 0;
};

TEST(UIThreadWindow, RunsBindsOnTheUIThreadOnlyOnceCreated) {
    Target target;
    mf_bind_t<Target> mark(&Target::Mark, &target);
    CUIThreadWindow::RunOnUIThread(&mark);  // no window yet: nothing happens
    EXPECT_EQ(target.uiThread, 0u);

    ASSERT_EQ(CUIThreadWindow::Create(::GetModuleHandleW(nullptr)), 1);
    ASSERT_EQ(CUIThreadWindow::Create(::GetModuleHandleW(nullptr)), 1);  // idempotent
    EXPECT_EQ(::SendMessageW(CUIThreadWindow::Window(), UM_RUN_BIND, 0, 0), 1);

    std::atomic<bool> done{false};
    std::thread worker([&] {
        mf_bind_t<Target> markFromWorker(&Target::Mark, &target);
        mf_bind_t_1<Target> add(&Target::Add, &target, 5);
        CUIThreadWindow::RunOnUIThread(&markFromWorker);
        CUIThreadWindow::RunOnUIThread(&add);
        CUIThreadWindow::RunOnUIThread(&add);
        done = true;
    });
    EXPECT_TRUE(testsupport::PumpUntil([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(target.uiThread, ::GetCurrentThreadId());
    EXPECT_EQ(target.sum, 10);
}

std::atomic<int> g_constructed{0};
struct Counted : CSingletonT<Counted> {
    Counted() { ++g_constructed; ::Sleep(20); }  // widen the window for a racing first use
};

TEST(Singleton, ConcurrentFirstUseCreatesOneInstance) {
    std::vector<std::thread> threads;
    std::vector<Counted*> seen(8);
    for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = Counted::Instance(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(g_constructed.load(), 1);
    for (Counted* p : seen) EXPECT_EQ(p, seen[0]);
}

}  // namespace
