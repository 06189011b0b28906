#include "app/program_information.h"

#include "publish/publisher.h"
#include "version/build_info.h"

const char kWindowProgramHelp[] =
    "Usage: quorvane [/AUTO]\n"
    "\n"
    "The Quorvane serial data logger with its status window. It reads Quorvane.ini\n"
    "from the current directory, writes log entry 00 and shows the status page;\n"
    "acquisition starts with Acquisition > Start Data Acquisition, or at once with\n"
    "/AUTO (any case, also /AUTOSTART). A refused Quorvane.ini is explained in a\n"
    "message box and opened for editing.\n"
    "\n"
    "  /AUTO        start data acquisition at once\n"
    "  --help       show this text and end\n"
    "  --version    show the version and the build's commit and end\n"
    "\n"
    "Without a window: quorvane-cli run. See quorvane(1), quorvane-cli(1) and\n"
    "Quorvane.ini(5).\n";

std::optional<int> AnswerInformationArgument(const std::vector<std::string>& arguments,
                                             std::ostream& out) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    const std::string& first = arguments.front();
    if (first == "--help" || first == "-h" || first == "/?") {
        out << kWindowProgramHelp;
    } else if (first == "--version") {
        out << VersionLine("quorvane") << '\n' << publish::PublishingSupportLine() << '\n';
    } else {
        return std::nullopt;
    }
    out.flush();
    return 0;
}
