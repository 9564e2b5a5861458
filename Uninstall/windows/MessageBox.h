// The uninstaller's message box. For now a stand-in without a window: every message goes to the
// log and the box answers at once. It becomes the skinned modal box (dialog template 249, drawn
// with the layered toolkit) once the toolkit exists; the interface below stays as it is.
#pragma once
#include <windows.h>

// Button sets (only the low 4 bits of the type count).
constexpr UINT kMessageOk = 0;        // "确定" (1)
constexpr UINT kMessageOkCancel = 1;  // "取消" (2), "确定" (1)
constexpr UINT kMessageYesNo = 4;     // "是" (6), "否" (7)

// Results, the ids of the system message box.
constexpr int kMessageSuppressed = -1;  // quiet, or no box could be shown
constexpr int kAnswerOk = IDOK;         // 1
constexpr int kAnswerCancel = IDCANCEL; // 2
constexpr int kAnswerYes = IDYES;       // 6
constexpr int kAnswerNo = IDNO;         // 7
constexpr int kAnswerClose = IDCLOSE;   // 8

class CMessageBox {
public:
    // The process-wide quiet switch; the start-up sets it for a silent run.
    static void SetQuiet(bool quiet);
    static bool IsQuiet();

    // Shows the text with the type's buttons and returns the pressed button's result; -1 at once
    // when quiet. The parent is not used (the skinned box is owned by the active window).
    //
    // Stand-in behaviour: the text is logged, nothing is shown, and the answer is the safe one
    // (OK for type 0, Cancel for type 1, No for type 4, Close for any other type), so nothing a
    // "Yes" would start (such as opening the download address) happens.
    static int ShowMessage(HWND parent, const wchar_t* text, UINT type);

    // The stand-in's answer for a type (pure).
    static int StandInAnswer(UINT type);
};
