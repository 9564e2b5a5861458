// The application module: the instance handle and the message loops that run on the UI thread.
#pragma once
#include <windows.h>

class CAppModule {
public:
    static CAppModule& Global();
    void Init(HINSTANCE instance) { m_hInstance = instance; }
    void Term() { m_hInstance = nullptr; }
    HINSTANCE Instance() const { return m_hInstance; }

private:
    HINSTANCE m_hInstance = nullptr;
};

inline CAppModule& CAppModule::Global() {
    static CAppModule module;
    return module;
}
