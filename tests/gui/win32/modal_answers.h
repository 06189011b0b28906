// Answers the modal windows that a command opens, from inside their own
// message loops: each answer is run on the next dialog or box of this thread
// that opens, in the order they were queued.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace win32_testing {

void AnswerNextModal(std::function<void(HWND)> answer);
// True when every queued answer has been given.
bool AllModalsAnswered();

// The text of a window or a control, also of another process.
std::string TextOf(HWND window);
// The text of a message box.
std::string MessageBoxText(HWND box);
// The visible buttons of a dialog or box.
int ButtonCount(HWND dialog);
// Presses a button of a dialog as a click would, once the answer has returned.
void PressButton(HWND dialog, int id);

}  // namespace win32_testing
