// The main window: menu, accelerators, status bar and the status view, built
// from the shell's resources. Commands go to the application object.
#pragma once

#include <QMainWindow>
#include <map>
#include <optional>

#include "app/main_frame.h"

class CQuorvaneApp;
class QAction;
class QLabel;
class StatusViewWidget;

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(CQuorvaneApp& app);
    ~MainWindow() override;

    StatusViewWidget* StatusView() const { return status_view_; }
    // The menu item or accelerator of a command; null when there is none.
    QAction* Action(int command) const;
    QLabel* MessagePane() const { return message_pane_; }
    // The pane of a lock-key indicator (ID_INDICATOR_CAPS ...).
    QLabel* IndicatorPane(int indicator) const;

    // Gives the window this outer geometry (frame included). Until a window
    // manager has framed the window its frame is not known: the client area
    // takes the whole size, and it is fitted once, when the frame appears.
    void SetOuterGeometry(const WindowGeometry& geometry);

    // Enables and disables the menu items by the shell's menu state.
    void RefreshCommandStates();
    void RefreshLockKeys();

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildMenu();
    void BuildAccelerators();
    void BuildStatusBar();
    void FitToFrame();

    CQuorvaneApp& app_;
    StatusViewWidget* status_view_;
    QLabel* message_pane_ = nullptr;
    std::map<int, QLabel*> indicators_;
    std::map<int, QAction*> actions_;
    QObject* lock_key_watch_ = nullptr;
    bool shut_down_ = false;
    std::optional<WindowGeometry> unfitted_outer_geometry_;
};
