#include "gui/win32/gdi_page_canvas.h"

#include "app/quorvane_view.h"
#include "app/status_page.h"

namespace {

class GdiPageCanvas : public PageCanvas {
public:
    explicit GdiPageCanvas(HDC context) : context_(context) {}

    void SetTextColor(const Rgb& colour) override {
        ::SetTextColor(context_, RGB(colour.r, colour.g, colour.b));
    }

    void TextOut(int x, int y, const std::string& text) override {
        ::TextOutA(context_, x, y, text.data(), static_cast<int>(text.size()));
    }

private:
    HDC context_;
};

}  // namespace

void PaintStatusPage(CQuorvaneView& view, HDC context) {
    GdiPageCanvas canvas(context);
    view.OnDraw(canvas);
}
