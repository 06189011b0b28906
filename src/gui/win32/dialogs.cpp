#include "gui/win32/dialogs.h"

#include <commdlg.h>

#include <vector>

#include "app/resources.h"
#include "app/terminal_dlg.h"

namespace {

INT_PTR CALLBACK TerminalDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* choice = reinterpret_cast<CTerminalDlg*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrA(dialog, DWLP_USER, lparam);
            choice = reinterpret_cast<CTerminalDlg*>(lparam);
            for (const std::string& line : CTerminalDlg::PortLines()) {
                SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(line.c_str()));
            }
            SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL,
                                static_cast<WPARAM>(choice->InitialSelection()), 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK) {
                choice->OnOK(static_cast<int>(
                    SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0)));
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wparam) == IDCANCEL) {  // also Escape and the close box
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

// The credits stand below the version line, as the shell lays them out.
void AddCredits(HWND dialog) {
    const auto font = SendMessageA(dialog, WM_GETFONT, 0, 0);
    for (const DialogItem& credit : AboutBox().credits) {
        RECT area{credit.x, credit.y, credit.x + credit.width, credit.y + credit.height};
        MapDialogRect(dialog, &area);
        HWND text =
            CreateWindowExA(0, "STATIC", credit.text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                            area.left, area.top, area.right - area.left, area.bottom - area.top,
                            dialog, nullptr, nullptr, nullptr);
        SendMessageA(text, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
    }
}

INT_PTR CALLBACK AboutBoxProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            AddCredits(dialog);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowQuorvaneMessageBox(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), kApplicationTitle, MB_OK | MB_ICONEXCLAMATION);
}

bool RunTerminalDialog(HINSTANCE instance, HWND owner, CTerminalDlg& choice) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_TERMINAL), owner, TerminalDialogProc,
                           reinterpret_cast<LPARAM>(&choice)) == IDOK;
}

void RunAboutBox(HINSTANCE instance, HWND owner) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), owner, AboutBoxProc, 0);
}

std::optional<std::string> RunFileOpenDialog(HWND owner, const FileOpenRequest& request) {
    std::vector<char> file(32768, '\0');
    request.initial_file_name.copy(file.data(), file.size() - 1);
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = request.initial_directory.c_str();
    dialog.lpstrTitle = request.caption.c_str();
    // No list of file types; the wildcard name selects what is listed.
    dialog.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR |
                   (request.show_read_only_box ? 0 : static_cast<DWORD>(OFN_HIDEREADONLY));
    // The dialog may move the current directory whatever the flags say.
    std::vector<char> directory(GetCurrentDirectoryA(0, nullptr) + 1, '\0');
    GetCurrentDirectoryA(static_cast<DWORD>(directory.size()), directory.data());
    const BOOL chosen = GetOpenFileNameA(&dialog);
    SetCurrentDirectoryA(directory.data());
    if (!chosen) {
        return std::nullopt;
    }
    return std::string(file.data());
}
