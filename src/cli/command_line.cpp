#include "cli/command_line.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "cli/cli11.h"
#include "version/build_info.h"

namespace {

// The names of the subcommands of `app`, "a, b or c".
std::string SubcommandList(CLI::App& app) {
    const auto subcommands = app.get_subcommands([](CLI::App*) { return true; });
    std::string list;
    for (size_t i = 0; i < subcommands.size(); ++i) {
        if (i > 0) {
            list += i + 1 == subcommands.size() ? " or " : ", ";
        }
        list += subcommands[i]->get_name();
    }
    return list;
}

bool NamesSubcommand(CLI::App& app, const std::string& name) {
    const auto subcommands = app.get_subcommands([](CLI::App*) { return true; });
    return std::any_of(subcommands.begin(), subcommands.end(),
                       [&](CLI::App* sub) { return sub->check_name(name); });
}

int UsageError(const std::string& program, const std::string& what, std::ostream& err) {
    err << program << ": " << what << "\nRun '" << program << " --help' for more information.\n";
    return kExitUsage;
}

}  // namespace

void AddVersionFlag(CLI::App& app, const std::string& program, const std::string& more) {
    app.set_version_flag("--version", VersionLine(program) + (more.empty() ? "" : "\n" + more),
                         "Show the version and the build's commit");
}

std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program,
                                    std::vector<std::string> arguments, std::ostream& err) {
    const bool has_subcommands = !app.get_subcommands([](CLI::App*) { return true; }).empty();
    if (has_subcommands) {
        if (arguments.empty()) {
            return UsageError(program, "a command is needed: " + SubcommandList(app), err);
        }
        const std::string& first = arguments.front();
        if (!first.empty() && first[0] != '-' && !NamesSubcommand(app, first)) {
            return UsageError(
                program,
                "'" + first + "' is not a command; the commands are " + SubcommandList(app), err);
        }
        // Without a command the parser would only say that one is missing;
        // an option it does not know is the better news.
        const bool names_command =
            std::any_of(arguments.begin(), arguments.end(),
                        [&](const std::string& a) { return NamesSubcommand(app, a); });
        const bool asks_for_information =
            first == "--help" || first == "-h" || first == "--version";
        if (!names_command && !asks_for_information) {
            return UsageError(program, "The following argument was not expected: " + first, err);
        }
    }
    std::reverse(arguments.begin(), arguments.end());  // CLI11 takes the last first
    try {
        app.parse(arguments);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            return app.exit(e);  // --help, --version
        }
        return UsageError(program, e.what(), err);
    }
    return std::nullopt;
}

std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program, int argc,
                                    char** argv, std::ostream& err) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return ParseCommandLine(app, program, std::move(arguments), err);
}

std::string CheckSeconds(const std::string& text, double maximum) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    const bool number =
        !text.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(value);
    if (number && value >= 0 && value <= maximum) {
        return "";
    }
    char limit[32];
    std::snprintf(limit, sizeof limit, "%.0f", maximum);
    return "'" + text + "' is not a number of seconds from 0 to " + limit;
}
