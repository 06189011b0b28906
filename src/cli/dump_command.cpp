#include "cli/dump_command.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "cli/cli11.h"
#include "config/ini_reader.h"
#include "platform/clock.h"
#include "platform/comm.h"
#include "serial/port.h"

namespace {

constexpr uint32_t kRxQueueSize = 65000;  // what the logger asks for
constexpr uint32_t kTxQueueSize = 25;
constexpr int kSendTimeoutMs = 5000;
constexpr uint32_t kLineSize = 4096;

// The dump's line printer has no context: the lines go to this stream.
thread_local std::ostream* t_dumpOut = nullptr;
void PrintDumpLine(const char* line) {
    *t_dumpOut << line << '\n';
}

// The words the logger's log uses for each code.
const char* StatusText(int status) {
    switch (status) {
        case PORT_ERR_GENERAL:
            return "General error, non-specific.";
        case PORT_ERR_BAD_PORT:
            return "Specified port is invalid or not open.";
        case PORT_ERR_IN_USE:
            return "Port already in use.";
        case PORT_ERR_NO_MEMORY:
            return "Out of memory.";
        case PORT_ERR_NOT_OPEN:
            return "Port has not been initialized or opened.";
        case PORT_ERR_BAD_ARGUMENT:
            return "Invalid Arguments in the call.";
        case PORT_ERR_NO_DATA:
            return "Nothing arrived in time.";
        case PORT_ERR_TX_INCOMPLETE:
            return "Not every byte could be queued for sending.";
        case PORT_ERR_NO_UART:
            return "No 8250 UART at the requested location.";
        case PORT_ERR_NOT_SUPPORTED:
            return "Not supported by this driver or platform.";
        case PORT_ERR_BAD_BAUD:
            return "Baud rate specified is not leagal for this driver.";
        case PORT_ERR_BAD_PARITY:
            return "Parity specification not leagal for this driver.";
        case PORT_ERR_BAD_DATA_BITS:
            return "Data bit length not leagal for this driver.";
        case PORT_ERR_BAD_STOP_BITS:
            return "Number of stop bits specified not leagal for this driver.";
        case PORT_ERR_BUFFER_FULL:
            return "The line is longer than the buffer.";
        default:
            return "Unknown status.";
    }
}

// "COM3", "com3" or "3" give 3; anything else 0.
int ComNumberOf(const std::string& text) {
    size_t start = 0;
    if (text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(text[2])) == 'M') {
        start = 3;
    }
    if (start >= text.size() || text.size() - start > 3) {
        return 0;
    }
    for (size_t i = start; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return 0;
        }
    }
    return std::atoi(text.c_str() + start);
}

int PositionOf(const ComConfig& config, int com_number) {
    for (int p = 0; p < config.NumPorts; ++p) {
        if (config.PortNumber[p] == com_number) {
            return p;
        }
    }
    return -1;
}

int ExitStatusOf(int status) {
    return status < 0 ? -status : status;
}

std::string DeviceOf(const ComConfig& config, int position, int com_number) {
#ifndef _WIN32  // Windows names its devices itself
    if (config.Device[position][0] != '\0') {
        return config.Device[position];
    }
#else
    (void)config;
    (void)position;
#endif
    return platform::DefaultCommDevice(com_number);
}

// Sends all of `bytes` through the 25-byte transmit queue, waiting while it is
// full (5 s at most). Returns 0 or the code of the failure.
int SendAll(PortRecord* port, const std::string& bytes) {
    size_t sent = 0;
    const uint32_t start = platform::TickCount();
    while (sent < bytes.size()) {
        const uint32_t left = static_cast<uint32_t>(bytes.size() - sent);
        if (port->WriteBlock(port, bytes.data() + sent, left) == PORT_OK) {
            return PORT_OK;
        }
        if (port->Status != PORT_ERR_TX_INCOMPLETE) {
            return port->Status;
        }
        port->ClearStatus(port);
        sent += port->Count;
        if (port->Count == 0) {
            if (platform::TickCount() - start >= static_cast<uint32_t>(kSendTimeoutMs)) {
                return PORT_ERR_TX_INCOMPLETE;
            }
            PortWait(port, 1);
        }
    }
    return PORT_OK;
}

int Exchange(const DumpOptions& options, PortRecord* port, int terminator, std::ostream& out,
             std::ostream& err) {
    if (options.send) {
        std::string bytes;
        UnescapeText(*options.send, bytes);
        const int sent = SendAll(port, bytes);
        if (sent != PORT_OK) {
            err << "quorvane-cli dump: sending failed: " << StatusText(sent) << " (status " << sent
                << ")\n";
            return ExitStatusOf(sent);
        }
        out << "sent: \"" << EscapeBytes(bytes) << "\"\n";
    }
    if (options.readLine) {
        std::string line(kLineSize, '\0');
        const int result =
            PortReadString(port, line.data(), kLineSize, terminator, options.timeoutMs);
        line.resize(port->Count);
        out << "read-line: status " << result << ", " << port->Count << " characters: \""
            << EscapeBytes(line) << "\"\n";
        if (result != PORT_OK) {
            err << "quorvane-cli dump: read-line: " << StatusText(result) << " (status " << result
                << ")\n";
            return ExitStatusOf(result);
        }
    }
    return 0;
}

int DumpPort(const DumpOptions& options, const ComConfig& config, int position, int com_number,
             int terminator, std::ostream& out, std::ostream& err) {
    platform::SetCommDevicePath(com_number, config.Device[position]);
    PortSetQueueSizes(kRxQueueSize, kTxQueueSize);
    PortRecord* port =
        PortOpenMSWin32(com_number - 1, config.Baud[position], config.Parity[position],
                        config.DataBits[position], config.StopBits[position]);
    const int status = port->Status;
    // A line the driver refused still leaves the device open and worth a look.
    const bool open = status == PORT_OK || status == PORT_ERR_BAD_BAUD ||
                      status == PORT_ERR_BAD_PARITY || status == PORT_ERR_BAD_STOP_BITS;
    int exitStatus = 0;
    if (open) {
        out << "COM" << com_number << " (" << DeviceOf(config, position, com_number) << "), "
            << config.Baud[position] << " baud, " << config.Parity[position]
            << config.DataBits[position] << config.StopBits[position] << ":\n";
        t_dumpOut = &out;
        port->Dump(port, PrintDumpLine);
        t_dumpOut = nullptr;
    }
    if (status != PORT_OK) {
        err << "quorvane-cli dump: COM" << com_number << " ("
            << DeviceOf(config, position, com_number) << "): " << StatusText(status) << " (status "
            << status << ")\n";
        exitStatus = ExitStatusOf(status);
    } else {
        exitStatus = Exchange(options, port, terminator, out, err);
    }
    port->Close(port);
    platform::SetCommDevicePath(com_number, nullptr);
    out.flush();
    return exitStatus;
}

}  // namespace

bool UnescapeText(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) {
            return false;
        }
        switch (text[i]) {
            case 'r':
                bytes += '\r';
                break;
            case 'n':
                bytes += '\n';
                break;
            case 't':
                bytes += '\t';
                break;
            case '0':
                bytes += '\0';
                break;
            case '\\':
                bytes += '\\';
                break;
            case 'x': {
                if (i + 2 >= text.size() ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    return false;
                }
                bytes += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

bool ParseTerminator(const std::string& text, int& terminator) {
    std::string upper;
    for (char c : text) {
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (upper == "CR") {
        terminator = 13;
    } else if (upper == "LF") {
        terminator = 10;
    } else if (upper == "CRLF") {
        terminator = -1;
    } else {
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || value < -2 || value > 255) {
            return false;
        }
        terminator = static_cast<int>(value);
    }
    return true;
}

std::string EscapeBytes(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r':
                shown += "\\r";
                break;
            case '\n':
                shown += "\\n";
                break;
            case '\t':
                shown += "\\t";
                break;
            case '\\':
                shown += "\\\\";
                break;
            case '"':
                shown += "\\\"";
                break;
            default:
                if (c >= 32 && c <= 126) {
                    shown += static_cast<char>(c);
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", c);
                    shown += hex;
                }
        }
    }
    return shown;
}

int RunDump(const DumpOptions& options, std::ostream& out, std::ostream& err) {
    const int comNumber = ComNumberOf(options.port);
    if (comNumber <= 0) {
        err << "quorvane-cli dump: \"" << options.port << "\" is not a port (COM1, COM2, ...)\n";
        return kDumpExitUsage;
    }
    std::string unused;
    if (options.send && !UnescapeText(*options.send, unused)) {
        err << "quorvane-cli dump: --send: a \\ must be followed by r, n, t, 0, \\ or xHH\n";
        return kDumpExitUsage;
    }
    int terminator = 13;
    if (options.readLine && !ParseTerminator(options.terminator, terminator)) {
        err << "quorvane-cli dump: --read-line: the terminator is a character code from -2 to 255, "
               "CR, LF or CRLF\n";
        return kDumpExitUsage;
    }

    ComConfig config = ReadQuorInitializationFile(options.ini.c_str());
    int exitStatus = kDumpExitConfig;
    if (config.ErrorCode != INI_OK) {
        err << "quorvane-cli dump: " << options.ini << ": "
            << (config.ErrorString != nullptr ? config.ErrorString : "cannot be read\n");
    } else if (const int position = PositionOf(config, comNumber); position < 0) {
        err << "quorvane-cli dump: " << options.ini << " has no [COM" << comNumber << "] section\n";
    } else {
        exitStatus = DumpPort(options, config, position, comNumber, terminator, out, err);
    }
    FreeComConfig(config);
    return exitStatus;
}

void AddDumpCommand(CLI::App& app, int& exit_status) {
    auto options = std::make_shared<DumpOptions>();
    auto readLine = std::make_shared<std::vector<std::string>>();
    CLI::App* dump = app.add_subcommand(
        "dump", "Open a configured port as the logger does and print its settings and state");
    dump->add_option("--ini", options->ini, "The configuration file")->capture_default_str();
    dump->add_option("COMn", options->port, "The port, as named by its [COMn] section")->required();
    dump->add_option("--send", options->send,
                     "Send TEXT after the dump (escapes: \\r \\n \\t \\0 \\\\ \\xHH)");
    dump->add_option("--read-line", *readLine,
                     "Then read one line: TERMINATOR (-2..255, CR, LF or CRLF) and TIMEOUT_MS")
        ->expected(2)
        ->type_name("TERMINATOR TIMEOUT_MS");
    dump->callback([options, readLine, &exit_status] {
        if (!readLine->empty()) {
            options->readLine = true;
            options->terminator = (*readLine)[0];
            char* end = nullptr;
            const long timeout = std::strtol((*readLine)[1].c_str(), &end, 10);
            if (*end != '\0' || (*readLine)[1].empty() || timeout < -1 || timeout > 86400000) {
                std::cerr << "quorvane-cli dump: --read-line: TIMEOUT_MS is milliseconds, or -1 "
                             "to wait without limit\n";
                exit_status = kDumpExitUsage;
                return;
            }
            options->timeoutMs = static_cast<int>(timeout);
        }
        exit_status = RunDump(*options, std::cout, std::cerr);
    });
}
