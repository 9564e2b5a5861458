#include "windows/MessageBox.h"
#include "app/SmartLogger.h"
#include <atomic>

namespace {

std::atomic<bool> g_quiet{false};

}  // namespace

void CMessageBox::SetQuiet(bool quiet) { g_quiet.store(quiet); }

bool CMessageBox::IsQuiet() { return g_quiet.load(); }

int CMessageBox::StandInAnswer(UINT type) {
    switch (type & 0xF) {
        case kMessageOk:
            return kAnswerOk;
        case kMessageOkCancel:
            return kAnswerCancel;
        case kMessageYesNo:
            return kAnswerNo;
        default:
            return kAnswerClose;
    }
}

int CMessageBox::ShowMessage(HWND, const wchar_t* text, UINT type) {
    const wchar_t* message = text ? text : L"";
    if (IsQuiet()) {
        WriteLog(L"message box (type %u, quiet): %s", type & 0xF, message);
        return kMessageSuppressed;
    }
    const int answer = StandInAnswer(type);
    WriteLog(L"message box (type %u, answer %d): %s", type & 0xF, answer, message);
    return answer;
}
