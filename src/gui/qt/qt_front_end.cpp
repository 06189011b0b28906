#include "gui/qt/qt_front_end.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <future>

#include "app/main_frame.h"
#include "app/quorvane_app.h"
#include "app/quorvane_view.h"
#include "app/resources.h"
#include "gui/qt/dialogs.h"
#include "gui/qt/main_window.h"
#include "gui/qt/status_view_widget.h"
#include "gui/qt/termination.h"

namespace {

int MaximisedWindowWidth() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry().width() : CMainFrame::kWidth;
}

}  // namespace

QtFrontEnd::QtFrontEnd() = default;
QtFrontEnd::~QtFrontEnd() = default;

bool QtFrontEnd::CreateMainWindow(CMainFrame&, CQuorvaneView& view) {
    if (app_ == nullptr) {
        return false;
    }
    window_ = std::make_unique<MainWindow>(*app_);
    window_->SetOuterGeometry(CMainFrame::InitialGeometry(MaximisedWindowWidth()));
    const bool status_bar_created = window_->statusBar() != nullptr;
    if (CMainFrame::OnCreate(true, status_bar_created) != 0 || view.OnCreate(true) != 0) {
        window_.reset();
        return false;
    }
    window_->setWindowTitle(QString::fromLatin1(kApplicationTitle));
    CloseOnTerminationSignals(window_.get());
    return true;
}

void QtFrontEnd::ShowMainWindow() {
    // The window fits its outer size to the window manager's frame once the
    // frame is known (MainWindow::SetOuterGeometry).
    window_->show();
    // The first paint happens now, whether or not the window system has put
    // the window on the screen yet: it makes the "/AUTO" start of the view.
    window_->StatusView()->grab();
}

void QtFrontEnd::SetMainWindowTitle(const std::string& title) {
    window_->setWindowTitle(QString::fromStdString(title));
}

void QtFrontEnd::SetMainWindowIcon(int) {
    window_->setWindowIcon(QuorvaneIcon());
}

void QtFrontEnd::CloseMainWindow() {
    if (window_ != nullptr) {
        window_->close();
    }
}

QWidget* QtFrontEnd::DialogParent() const {
    return window_ != nullptr && window_->isVisible() ? window_.get() : nullptr;
}

void QtFrontEnd::ShowMessageBox(const std::string& text) {
    ShowQuorvaneMessageBox(DialogParent(), text);
}

std::optional<std::string> QtFrontEnd::ShowFileOpenDialog(const FileOpenRequest& request) {
    QFileDialog dialog(DialogParent(), QString::fromStdString(request.caption),
                       QString::fromStdString(request.initial_directory));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The wildcard file name selects the listed files; there is no list of
    // file types to choose from.
    dialog.setNameFilter(QString::fromStdString(request.initial_file_name));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

bool QtFrontEnd::ShowTerminalDialog(CTerminalDlg& choice) {
    TerminalDialog dialog(choice, DialogParent());
    return dialog.exec() == QDialog::Accepted;
}

void QtFrontEnd::ShowAboutBox() {
    AboutDialog dialog(DialogParent());
    dialog.exec();
}

void QtFrontEnd::InvalidateView() {
    if (window_ != nullptr) {
        window_->StatusView()->ScheduleRepaint();
    }
}

void ShowOperatorMessageInWindow(const std::string& text) {
    if (qApp == nullptr) {
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    if (QThread::currentThread() == qApp->thread()) {
        ShowQuorvaneMessageBox(QApplication::activeWindow(), text);
        return;
    }
    // From another thread: the box is shown by the window's thread, and this
    // thread waits for OK, unless the window's thread is itself waiting for
    // acquisition to stop (then the text goes to standard error instead).
    auto answered = std::make_shared<std::promise<void>>();
    std::future<void> done = answered->get_future();
    QMetaObject::invokeMethod(
        qApp,
        [text, answered] {
            ShowQuorvaneMessageBox(QApplication::activeWindow(), text);
            answered->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (IsWaitingForAcquisitionStop()) {
            std::fprintf(stderr, "%s\n", text.c_str());
            return;
        }
    }
}
