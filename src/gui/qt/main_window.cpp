#include "gui/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

#include "app/main_frame.h"
#include "app/quorvane_app.h"
#include "app/resources.h"
#include "gui/qt/lock_keys.h"
#include "gui/qt/status_view_widget.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// Commands of the accelerator table that the program carries out; the rest
// are the toolkit's standard editing commands, which it has no use for.
bool IsProvided(int command) {
    return command == ID_FILE_NEW;
}

QKeySequence KeysOf(const Accelerator& accelerator) {
    int key = 0;
    switch (accelerator.key) {
        case Key::N:
            key = Qt::Key_N;
            break;
        case Key::O:
            key = Qt::Key_O;
            break;
        case Key::S:
            key = Qt::Key_S;
            break;
        case Key::Z:
            key = Qt::Key_Z;
            break;
        case Key::X:
            key = Qt::Key_X;
            break;
        case Key::C:
            key = Qt::Key_C;
            break;
        case Key::V:
            key = Qt::Key_V;
            break;
        case Key::Backspace:
            key = Qt::Key_Backspace;
            break;
        case Key::Delete:
            key = Qt::Key_Delete;
            break;
        case Key::Insert:
            key = Qt::Key_Insert;
            break;
        case Key::F6:
            key = Qt::Key_F6;
            break;
    }
    if ((accelerator.modifiers & kCtrl) != 0)
        key |= Qt::CTRL;
    if ((accelerator.modifiers & kShift) != 0)
        key |= Qt::SHIFT;
    if ((accelerator.modifiers & kAlt) != 0)
        key |= Qt::ALT;
    return QKeySequence(key);
}

// Keeps the lock-key panes current: after every key and whenever the
// program becomes active again.
class LockKeyWatch : public QObject {
public:
    LockKeyWatch(MainWindow* window) : QObject(window), window_(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ApplicationStateChange:
                window_->RefreshLockKeys();
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    MainWindow* window_;
};

}  // namespace

MainWindow::MainWindow(CQuorvaneApp& app) : app_(app) {
    status_view_ = new StatusViewWidget(app.View(), this);
    setCentralWidget(status_view_);
    BuildMenu();
    BuildAccelerators();
    BuildStatusBar();
    lock_key_watch_ = new LockKeyWatch(this);
    qApp->installEventFilter(lock_key_watch_);
    RefreshLockKeys();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(lock_key_watch_);
}

QAction* MainWindow::Action(int command) const {
    const auto found = actions_.find(command);
    return found == actions_.end() ? nullptr : found->second;
}

QLabel* MainWindow::IndicatorPane(int indicator) const {
    const auto found = indicators_.find(indicator);
    return found == indicators_.end() ? nullptr : found->second;
}

void MainWindow::BuildMenu() {
    for (const MenuPopup& popup : MainMenu()) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(popup.title));
        for (const MenuItem& item : popup.items) {
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            action->setStatusTip(Text(CommandPrompt(item.command)));
            action->setToolTip(Text(CommandToolTip(item.command)));
            const int command = item.command;
            connect(action, &QAction::triggered, this, [this, command] {
                app_.OnCommand(command);
                RefreshCommandStates();
            });
            actions_[command] = action;
        }
        // The menu state is asked for whenever a menu is about to open.
        connect(menu, &QMenu::aboutToShow, this, [this] { RefreshCommandStates(); });
    }
    RefreshCommandStates();
}

void MainWindow::BuildAccelerators() {
    for (const Accelerator& accelerator : AcceleratorTable()) {
        if (!IsProvided(accelerator.command)) {
            continue;
        }
        auto* action = new QAction(this);
        action->setShortcut(KeysOf(accelerator));
        action->setShortcutContext(Qt::WindowShortcut);
        const int command = accelerator.command;
        connect(action, &QAction::triggered, this, [this, command] { app_.OnCommand(command); });
        addAction(action);
        actions_.emplace(command, action);
    }
}

void MainWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QString::number(IDW_STATUS_BAR));
    for (int indicator : CMainFrame::StatusBarIndicators()) {
        if (indicator == ID_SEPARATOR) {
            // Status tips of the menu items cover this pane while shown.
            message_pane_ = new QLabel(Text(CMainFrame::MessagePaneText(std::nullopt)), bar);
            bar->addWidget(message_pane_, 1);
            continue;
        }
        auto* pane = new QLabel(bar);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 10);
        bar->addPermanentWidget(pane);
        indicators_[indicator] = pane;
    }
}

void MainWindow::RefreshCommandStates() {
    for (const auto& [command, action] : actions_) {
        action->setEnabled(app_.IsCommandEnabled(command));
    }
}

void MainWindow::RefreshLockKeys() {
    const LockKeyState keys = QueryLockKeys();
    for (const auto& [indicator, pane] : indicators_) {
        pane->setText(Text(CMainFrame::IndicatorText(indicator, keys)));
    }
}

void MainWindow::SetOuterGeometry(const WindowGeometry& geometry) {
    unfitted_outer_geometry_ = geometry;
    resize(geometry.width, geometry.height);
    move(geometry.x, geometry.y);
    FitToFrame();
}

void MainWindow::FitToFrame() {
    if (!unfitted_outer_geometry_) {
        return;
    }
    // The frame becomes known when the window manager has put the window into
    // it, which the toolkit hears of after the window was shown; a window
    // that is never framed keeps its client area at the whole size.
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (frame == client) {
        return;
    }
    const WindowGeometry outer = *unfitted_outer_geometry_;
    unfitted_outer_geometry_.reset();  // once: later sizes are the operator's
    resize(outer.width - (frame.width() - client.width()),
           outer.height - (frame.height() - client.height()));
    move(outer.x, outer.y);
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    FitToFrame();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FitToFrame();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing is never refused. The view's shutdown blocks until acquisition
    // has made its final flush.
    if (!shut_down_) {
        shut_down_ = true;
        app_.View().OnDestroy();
    }
    event->accept();
}
