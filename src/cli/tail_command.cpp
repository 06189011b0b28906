#include "cli/tail_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <system_error>

#include "acquisition/journal.h"
#include "acquisition/journal_follower.h"
#include "cli/cli11.h"
#include "cli/status_command.h"
#include "platform/stop_requests.h"

namespace {

constexpr size_t kLookLimit = 1 << 20;

// The n of "COMn" (any case); nothing when it is not one.
std::optional<int> ComNumberOf(const std::string& text) {
    if (text.size() < 4 || text.size() > 6) {
        return std::nullopt;
    }
    std::string upper = text.substr(0, 3);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper != "COM") {
        return std::nullopt;
    }
    int number = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return std::nullopt;
        }
        number = number * 10 + (text[i] - '0');
    }
    return number > 0 ? std::optional<int>(number) : std::nullopt;
}

// The port numbers of the journals in `directory`, in order.
std::vector<int> JournaledPorts(const std::string& directory) {
    std::vector<int> ports;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(JournalFolderPath(directory.c_str()), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 4 && name.rfind("Port", 0) == 0 &&
            std::all_of(name.begin() + 4, name.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; })) {
            ports.push_back(std::stoi(name.substr(4)));
        }
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

class PortTails {
public:
    PortTails(std::string directory, std::vector<int> named)
        : directory_(std::move(directory)), named_(std::move(named)) {}

    // One look at every port; true when anything was printed.
    bool Look(std::ostream& out) {
        AddPorts();
        bool printed = false;
        for (auto& [number, follower] : followers_) {
            const journal::JournalFollower::Look look = follower.Next(kLookLimit);
            if (look.texts.empty()) {
                continue;
            }
            if (followers_.size() > 1 && number != last_printed_) {
                out << (last_printed_ == 0 ? "" : "\n") << "==> COM" << number << " <==\n";
            }
            last_printed_ = number;
            for (const journal::FollowedText& text : look.texts) {
                out.write(text.bytes.data(), static_cast<std::streamsize>(text.bytes.size()));
            }
            printed = true;
        }
        return printed;
    }

private:
    // The named ports once; without names, every journal as it appears. A
    // port whose journal appears later is followed from its beginning.
    void AddPorts() {
        const bool first = !looked_;
        looked_ = true;
        const std::vector<int> ports = named_.empty() ? JournaledPorts(directory_) : named_;
        for (const int number : ports) {
            if (followers_.count(number) != 0) {
                continue;
            }
            journal::JournalFollower follower(JournalPath(directory_.c_str(), number));
            if (!first) {
                follower.StartAtBeginning();
            }
            followers_.emplace(number, std::move(follower));
        }
    }

    std::string directory_;
    std::vector<int> named_;
    std::map<int, journal::JournalFollower> followers_;
    int last_printed_ = 0;
    bool looked_ = false;
};

}  // namespace

bool ReadTailArguments(const std::vector<std::string>& arguments, TailOptions& options,
                       std::string& error) {
    for (const std::string& argument : arguments) {
        if (const std::optional<int> number = ComNumberOf(argument)) {
            options.ports.push_back(*number);
            continue;
        }
        std::error_code ec;
        if (!std::filesystem::is_directory(argument, ec)) {
            error = "\"" + argument + "\" is neither COMn nor a directory";
            return false;
        }
        if (options.directory) {
            error = "\"" + argument + "\": one directory only (" + *options.directory +
                    " is given)";
            return false;
        }
        options.directory = argument;
    }
    return true;
}

int RunTail(const TailOptions& options, std::ostream& out, std::ostream& err,
            const std::function<bool(std::chrono::milliseconds)>& stop) {
    const std::string directory = StatusDirectoryOf(options.directory);
    if (std::error_code ec; !std::filesystem::is_directory(directory, ec)) {
        err << "quorvane-cli tail: there is no directory " << directory << "\n";
        return 66;  // EX_NOINPUT
    }
    if (std::error_code ec;
        !std::filesystem::is_directory(JournalFolderPath(directory.c_str()), ec)) {
        err << "quorvane-cli tail: " << directory
            << " has no journal yet: waiting for a logger to start there\n";
    }
    PortTails tails(directory, options.ports);
    do {
        if (tails.Look(out)) {
            out.flush();
        }
    } while (!stop(options.interval));
    return 0;
}

void AddTailCommand(CLI::App& app, int& exit_status) {
    auto arguments = std::make_shared<std::vector<std::string>>();
    CLI::App* tail = app.add_subcommand(
        "tail", "Print the text of a running logger's ports as it arrives (like tail -f)");
    tail->add_option("ARGS", *arguments,
                     "[DIR] [COMn ...]: the output directory, or a directory with the "
                     "Quorvane.ini that names it (default: the current directory), and the "
                     "ports (default: all)");
    tail->callback([arguments, &exit_status] {
        TailOptions options;
        std::string error;
        if (!ReadTailArguments(*arguments, options, error)) {
            std::cerr << "quorvane-cli tail: " << error << "\n";
            exit_status = 64;
            return;
        }
        platform::StopRequests requests;
        exit_status = RunTail(options, std::cout, std::cerr, [&](std::chrono::milliseconds wait) {
            return requests.Wait(wait);
        });
    });
}
