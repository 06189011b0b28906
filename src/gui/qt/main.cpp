// quorvane: the logger with its status window.
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "acquisition/operator_message.h"
#include "app/program_information.h"
#include "app/quorvane_app.h"
#include "gui/qt/qt_front_end.h"

int main(int argc, char** argv) {
    // --help and --version answer before the toolkit looks for a display.
    if (const auto status =
            AnswerInformationArgument(std::vector<std::string>(argv + 1, argv + argc), std::cout)) {
        return *status;
    }
    QApplication toolkit(argc, argv);  // takes its own options (-platform ...) out of argv
    QtFrontEnd front_end;
    CQuorvaneApp app(front_end);
    front_end.SetApplication(app);
    SetOperatorMessageHandler(ShowOperatorMessageInWindow);

    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (app.InitInstance(arguments)) {
        QApplication::exec();
    }
    return app.ExitInstance();
}
