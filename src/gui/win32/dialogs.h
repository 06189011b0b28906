// The program's modal windows in Win32: the message box, the Terminal Data
// dialog and the About box from the resource script, and the system's
// file-open dialog.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "app/front_end.h"

class CTerminalDlg;

// A modal box with the text and one OK button, captioned "Quorvane".
void ShowQuorvaneMessageBox(HWND owner, const std::string& text);

// The Terminal Data dialog (resource 130). True when closed with OK.
bool RunTerminalDialog(HINSTANCE instance, HWND owner, CTerminalDlg& choice);

// The About box (resource 100).
void RunAboutBox(HINSTANCE instance, HWND owner);

// The file-open dialog; the current directory is the same afterwards, as
// Quorvane.ini and the help file are looked for there.
std::optional<std::string> RunFileOpenDialog(HWND owner, const FileOpenRequest& request);
