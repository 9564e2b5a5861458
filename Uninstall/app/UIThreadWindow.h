// Hidden window on the UI thread that runs bound calls sent from worker threads.
#pragma once
#include "app/SimpleBind.h"
#include <windows.h>

class CUIThreadWindow {
public:
    // Creates the window on the calling (UI) thread unless it exists; 1 when it exists.
    static int Create(HINSTANCE instance);
    // Runs bind->Run() on the UI thread and waits for it; does nothing before Create.
    static void RunOnUIThread(ISimpleBind* bind);
    static HWND Window();

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
