#include "modal_answers.h"

#include <deque>
#include <set>
#include <vector>

namespace win32_testing {

namespace {

std::deque<std::function<void(HWND)>> g_answers;
std::set<HWND> g_answered;
UINT_PTR g_timer = 0;

BOOL CALLBACK CollectDialog(HWND window, LPARAM found) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && IsWindowVisible(window) && IsWindowEnabled(window) &&
        g_answered.count(window) == 0) {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

HWND OpenDialog() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (g_answers.empty()) {
        KillTimer(nullptr, g_timer);
        g_timer = 0;
        return;
    }
    HWND dialog = OpenDialog();
    if (dialog == nullptr) {
        return;
    }
    g_answered.insert(dialog);
    auto answer = std::move(g_answers.front());
    g_answers.pop_front();
    answer(dialog);
}

BOOL CALLBACK CountButton(HWND window, LPARAM count) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "Button" && IsWindowVisible(window)) {
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

}  // namespace

void AnswerNextModal(std::function<void(HWND)> answer) {
    g_answers.push_back(std::move(answer));
    if (g_timer == 0) {
        g_timer = SetTimer(nullptr, 0, 10, OnTimer);
    }
}

bool AllModalsAnswered() {
    return g_answers.empty();
}

std::string TextOf(HWND window) {
    std::vector<char> text(4096, '\0');
    SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

std::string MessageBoxText(HWND box) {
    return TextOf(GetDlgItem(box, 0xFFFF));
}

int ButtonCount(HWND dialog) {
    int count = 0;
    EnumChildWindows(dialog, CountButton, reinterpret_cast<LPARAM>(&count));
    return count;
}

void PressButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

}  // namespace win32_testing
