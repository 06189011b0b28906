// The status page painted with GDI.
#pragma once

#include <windows.h>
// windows.h names its text function TextOut as a macro; the page canvas has a
// member of that name.
#undef TextOut

class CQuorvaneView;

// Paints the view's page into `context` with the context's default font and
// background, so each text paints its own background cell.
void PaintStatusPage(CQuorvaneView& view, HDC context);
