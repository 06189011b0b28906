#include "app/status_page.h"

#include <cctype>

#include "version/version.h"

namespace {

bool Contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

}  // namespace

const TitleLine* TitleBlock() {
    static const TitleLine lines[kTitleLineCount] = {
        {2, std::string(31, ' ') + "KOVA-Brenthal"},
        {18, std::string(43, ' ') + "Data Acquisition System Status"},
        {34, std::string(50, ' ') + "Quorvane Version " + kProgramVersion},
    };
    return lines;
}

Rgb ValueColour(StatusIndex index, const std::string& text, bool running) {
    if (!running) {
        return kDarkGreen;
    }
    switch (index) {
        case kStatusAcquisition:
        case kStatusStatistics:
            return kDarkGreen;
        case kStatusPortsOpen:
            return Contains(text, "None") ? kRed : kDarkGreen;
        case kStatusPortErrors:
            return Contains(text, "None") ? kDarkGreen : kRed;
        case kStatusReceivedData:
            if (Contains(text, "None")) {
                return kRed;
            }
            if (Contains(text, "First")) {
                return kPurple;
            }
            // An open port missing from the list is silent: a problem.
            return SilentPorts(StatusText(kStatusPortsOpen), text).empty() ? kDarkGreen : kRed;
        case kStatusBufferOverflows:
            if (Contains(text, "First")) {
                return kPurple;
            }
            return Contains(text, "None") ? kDarkGreen : kRed;
        case kStatusLastUpdate:
        case kStatusNextUpdate:
            return kPurple;
    }
    return kDarkGreen;
}

void DrawStatusPage(PageCanvas& canvas, bool running) {
    canvas.SetTextColor(kBlue);
    for (int i = 0; i < kTitleLineCount; ++i) {
        canvas.TextOut(kLabelX, TitleBlock()[i].y, TitleBlock()[i].text);
    }
    canvas.SetTextColor(kBlack);
    for (int i = 0; i < kStatusCount; ++i) {
        const StatusLine& line = StatusLineOf(static_cast<StatusIndex>(i));
        canvas.TextOut(kLabelX, line.y, line.label);
    }
    Rgb current = kDarkGreen;
    canvas.SetTextColor(current);
    for (int i = 0; i < kStatusCount; ++i) {
        const auto index = static_cast<StatusIndex>(i);
        const std::string& text = StatusText(index);
        const Rgb colour = ValueColour(index, text, running);
        if (!(colour == current)) {
            canvas.SetTextColor(colour);
            current = colour;
        }
        canvas.TextOut(kValueX, StatusLineOf(index).y, text);
    }
}

bool IsAutoStartArgument(const std::optional<std::string>& argument) {
    static constexpr char kAuto[] = "/AUTO";
    if (!argument || argument->size() < 5) {
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (std::toupper(static_cast<unsigned char>((*argument)[i])) != kAuto[i]) {
            return false;
        }
    }
    return true;
}
