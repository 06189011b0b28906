// The status page: a three-line title block and eight labelled status texts
// at fixed pixel positions, with the colour rules for the texts.
#pragma once

#include <optional>
#include <string>

#include "acquisition/status.h"

// Where the status page is drawn: a text colour and texts at pixel positions
// (top-left corner), each painting its own background cell.
class PageCanvas {
public:
    virtual ~PageCanvas() = default;
    virtual void SetTextColor(const Rgb& colour) = 0;
    virtual void TextOut(int x, int y, const std::string& text) = 0;
};

inline constexpr int kLabelX = 10;
inline constexpr int kValueX = 160;

struct TitleLine {
    int y;
    std::string text;
};
// The three title lines, top to bottom, drawn at x = kLabelX in blue.
const TitleLine* TitleBlock();
inline constexpr int kTitleLineCount = 3;

// The colour of a status text by its content. Stopped: always dark green.
// Running: red for a problem, purple for pending values and times.
Rgb ValueColour(StatusIndex index, const std::string& text, bool running);

// Draws the whole page. The caller holds StatusLock.
void DrawStatusPage(PageCanvas& canvas, bool running);

// True when the first command-line argument asks for acquisition at start:
// its first five characters are "/AUTO" in any case ("/auto", "/AUTOSTART").
bool IsAutoStartArgument(const std::optional<std::string>& argument);
