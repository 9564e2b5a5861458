// Private window messages shared between the uninstaller's windows and threads.
#pragma once
#include <windows.h>

constexpr UINT UM_INPUT_DONE = 0x4DC;          // a feedback input window finished
constexpr UINT UM_STEP_DONE = 0x464;           // a flow window finished; wParam sender, lParam 0 end
constexpr UINT UM_ACTIVATE_INSTANCE = 0x1400;  // a second instance asks the first to come forward
constexpr UINT UM_EDIT_CHANGED = 0x2B10;       // the cue-text edit box changed
constexpr UINT UM_LAYER_REFRESH = 0x3400;      // a layered window should redraw
constexpr UINT UM_ANIMATION_DONE = 0x3402;     // an animation control finished
constexpr UINT UM_RUN_BIND = 3002;             // CUIThreadWindow: run the ISimpleBind in wParam
