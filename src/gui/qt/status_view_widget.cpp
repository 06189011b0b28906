#include "gui/qt/status_view_widget.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>

#include "app/quorvane_view.h"
#include "app/status_page.h"

namespace {

const QColor kPageBackground = Qt::white;

class QtPageCanvas : public PageCanvas {
public:
    explicit QtPageCanvas(QPainter& painter) : painter_(painter), metrics_(painter.font()) {}

    void SetTextColor(const Rgb& colour) override {
        painter_.setPen(QColor(colour.r, colour.g, colour.b));
    }

    void TextOut(int x, int y, const std::string& text) override {
        const QString line = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
        painter_.fillRect(x, y, metrics_.horizontalAdvance(line), metrics_.height(),
                          kPageBackground);
        painter_.drawText(x, y + metrics_.ascent(), line);
    }

private:
    QPainter& painter_;
    QFontMetrics metrics_;
};

}  // namespace

QFont StatusPageFont() {
    QFont font = QApplication::font();
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

StatusViewWidget::StatusViewWidget(CQuorvaneView& view, QWidget* parent)
    : QWidget(parent), view_(view) {
    QPalette page = palette();
    page.setColor(QPalette::Window, kPageBackground);
    setPalette(page);
    setAutoFillBackground(true);
    setFont(StatusPageFont());
}

void StatusViewWidget::ScheduleRepaint() {
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

void StatusViewWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    QtPageCanvas canvas(painter);
    view_.OnDraw(canvas);
}
