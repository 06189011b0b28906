// The status page painted with GDI.
#pragma once

#include <windows.h>

class CQuorvaneView;

// Paints the view's page into `context` with the context's default font and
// background, so each text paints its own background cell.
void PaintStatusPage(CQuorvaneView& view, HDC context);
