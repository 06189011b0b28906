// quorvane: the logger with its status window.
#include <windows.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/operator_message.h"
#include "app/program_information.h"
#include "app/quorvane_app.h"
#include "gui/win32/win32_front_end.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
    // --help and --version answer before any window exists; a program of the
    // GUI subsystem has no console, so the answer comes in a box.
    std::ostringstream answer;
    if (const auto status = AnswerInformationArgument(
            std::vector<std::string>(__argv + 1, __argv + __argc), answer)) {
        MessageBoxA(nullptr, answer.str().c_str(), "Quorvane", MB_OK);
        return *status;
    }
    Win32FrontEnd front_end(instance, show_command);
    CQuorvaneApp app(front_end);
    front_end.SetApplication(app);
    SetOperatorMessageHandler(ShowOperatorMessageInWindow);

    // The arguments as the C runtime split the command line.
    const std::vector<std::string> arguments(__argv + 1, __argv + __argc);
    if (app.InitInstance(arguments)) {
        front_end.RunMessageLoop();
    }
    return app.ExitInstance();
}
