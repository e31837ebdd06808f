// What inspector.exe and inspector-hook.dll agree on for "inspector texts".
//
// A font handle means nothing outside the process that made it, so the texts
// are measured inside the dialog's process: the inspector hooks the dialog's
// thread with inspector-hook.dll (WH_CALLWNDPROC), sends the dialog
// kTextFitMessage, and the hook writes its lines into the shared memory
// kTextFitMemory before the message returns. The dialog itself ignores the
// message (it is none of its own).
#ifndef TESTS_E2E_INSPECTOR_TEXT_FIT_H
#define TESTS_E2E_INSPECTOR_TEXT_FIT_H

namespace inspector {

inline constexpr char kTextFitMessage[] = "inspector-text-fit";
inline constexpr char kTextFitMemory[] = "inspector-text-fit";
inline constexpr unsigned kTextFitMemorySize = 16384;
inline constexpr char kHookLibrary[] = "inspector-hook.dll";
inline constexpr char kHookProcedure[] = "TextFitHook";

}  // namespace inspector

#endif
