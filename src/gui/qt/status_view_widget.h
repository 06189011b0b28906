// The status view's window: paints the page that CQuorvaneView draws, with
// the default font, each text on its own white background cell.
#pragma once

#include <QWidget>

class CQuorvaneView;

class StatusViewWidget : public QWidget {
public:
    StatusViewWidget(CQuorvaneView& view, QWidget* parent);

    // A repaint requested from any thread; it happens later on the window's
    // own thread.
    void ScheduleRepaint();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CQuorvaneView& view_;
};

// The font of the page: the toolkit's default, drawn without smoothing so
// that every text pixel has exactly its text colour.
QFont StatusPageFont();
