// quorvane-cli: the logger's companion on the command line. Each subcommand
// lives in its own <name>_command unit and is added here.
#include <iostream>

#include "cli/check_command.h"
#include "cli/cli11.h"
#include "cli/command_line.h"
#include "cli/dump_command.h"
#include "cli/report_command.h"
#include "cli/run_command.h"
#include "cli/stats_command.h"
#include "cli/status_command.h"
#include "cli/tail_command.h"
#include "platform/console.h"
#include "publish/publisher.h"

int main(int argc, char** argv) {
    platform::UseBinaryStandardOutput();
    CLI::App app{"Quorvane companion command line", "quorvane-cli"};
    app.require_subcommand(1);
    AddVersionFlag(app, "quorvane-cli", publish::PublishingSupportLine());
    int exitStatus = 0;
    AddCheckCommand(app, exitStatus);
    AddRunCommand(app, exitStatus);
    AddDumpCommand(app, exitStatus);
    AddStatsCommand(app, exitStatus);
    AddStatusCommand(app, exitStatus);
    AddTailCommand(app, exitStatus);
    AddReportCommand(app, exitStatus);
    if (const auto status = ParseCommandLine(app, "quorvane-cli", argc, argv, std::cerr)) {
        return *status;
    }
    return exitStatus;
}
