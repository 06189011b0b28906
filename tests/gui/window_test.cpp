#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "acquisition/acquisition_thread.h"
#include "acquisition/status.h"
#include "app/quorvane_app.h"
#include "app/resources.h"
#include "app/terminal_dlg.h"
#include "app/viewers.h"
#include "dialog_checks.h"
#include "gui/qt/dialogs.h"
#include "gui/qt/main_window.h"
#include "gui/qt/qt_front_end.h"
#include "gui/qt/status_view_widget.h"
#include "support/child_test.h"
#include "support/process_watch.h"
#include "support/recorded_programs.h"
#include "support/station.h"

namespace {

using testing_support::RecordedPrograms;
using testing_support::Station;

constexpr int kDeadlineMs = 30000;

// Runs `answer` on the next modal window once it is open (from inside its
// own event loop).
void AnswerNextModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start(5);
}

std::string StatusTextNow(StatusIndex index) {
    std::lock_guard<std::mutex> lock(StatusLock);
    return StatusText(index);
}

QRgb Colour(const Rgb& rgb) {
    return qRgb(rgb.r, rgb.g, rgb.b);
}

// The colours of the text pixels in one line of the page, from x onwards.
std::set<QRgb> TextColoursAt(const QImage& page, int x, int y, int width = 300) {
    std::set<QRgb> colours;
    for (int row = y; row < y + 16 && row < page.height(); ++row) {
        for (int column = x; column < x + width && column < page.width(); ++column) {
            const QRgb pixel = page.pixel(column, row) | 0xff000000U;
            if (pixel != qRgb(255, 255, 255)) {
                colours.insert(pixel);
            }
        }
    }
    return colours;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override { station.WriteIni(station.ValidIni()); }

    void TearDown() override {
        if (window() != nullptr && window()->isVisible()) {
            window()->close();
        }
        CommandLineArgument.reset();
    }

    void StartUp(const std::vector<std::string>& arguments = {}) {
        app = std::make_unique<CQuorvaneApp>(front_end);
        front_end.SetApplication(*app);
        ASSERT_TRUE(app->InitInstance(arguments));
    }

    MainWindow* window() const { return front_end.Window(); }

    QImage Page() const { return window()->StatusView()->grab().toImage(); }

    // The menu state as the menu shows it when opened.
    bool EnabledInMenu(int command) {
        QAction* action = window()->Action(command);
        QMenu* menu = qobject_cast<QMenu*>(action->parent());
        menu->popup(window()->mapToGlobal(QPoint(20, 20)));
        const bool enabled = action->isEnabled();
        menu->hide();
        return enabled;
    }

    bool WaitForRunningStatus() {
        return QTest::qWaitFor(
            [] { return StatusTextNow(kStatusReceivedData).find("UTC") != std::string::npos; },
            kDeadlineMs);
    }

    Station station;
    QtFrontEnd front_end;
    std::unique_ptr<CQuorvaneApp> app;
};

TEST_F(Window, OpensCentredAtTheTopWithItsTitle) {
    StartUp();
    const QRect frame = window()->frameGeometry();
    EXPECT_EQ(frame, QRect(233, 0, 567, 259));
    EXPECT_EQ(window()->windowTitle().toStdString(),
              "Quorvane - KOVA/BRN Data Acquisition Systems");
    EXPECT_FALSE(window()->windowIcon().isNull());
}

TEST_F(Window, MenuHasItsPopupsAndItemsWithMnemonics) {
    StartUp();
    QStringList popups;
    QStringList items;
    for (QAction* popup : window()->menuBar()->actions()) {
        popups << popup->text();
        for (QAction* item : popup->menu()->actions()) {
            items << item->text();
        }
    }
    EXPECT_EQ(popups, (QStringList{"&File", "&Acquisition", "&View", "&Help"}));
    EXPECT_EQ(items,
              (QStringList{"E&xit", "&Start Data Acquisition", "S&top Data Acquisition",
                           "&Terminal Data", "&Log Entries", "&Diagnostic Statistics",
                           "&Archived Data", "&Operating Instructions", "&About Quorvane..."}));
}

TEST_F(Window, StatusBarShowsReadyAndThePromptOfTheHighlightedItem) {
    StartUp();
    QStatusBar* bar = window()->statusBar();
    EXPECT_EQ(window()->MessagePane()->text(), "Ready");
    EXPECT_TRUE(window()->MessagePane()->isVisible());
    ASSERT_NE(window()->IndicatorPane(ID_INDICATOR_CAPS), nullptr);
    ASSERT_NE(window()->IndicatorPane(ID_INDICATOR_NUM), nullptr);
    ASSERT_NE(window()->IndicatorPane(ID_INDICATOR_SCRL), nullptr);

    // Opened from the menu bar, as the operator opens it.
    QAction* log_entries = window()->Action(ID_VIEW_LOG_ENTRIES);
    QMenu* menu = qobject_cast<QMenu*>(log_entries->parent());
    window()->menuBar()->setActiveAction(menu->menuAction());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    menu->setActiveAction(log_entries);
    EXPECT_EQ(bar->currentMessage().toStdString(), "View entries in log file");
    EXPECT_FALSE(window()->MessagePane()->isVisible()) << "the prompt covers the message pane";
    menu->setActiveAction(window()->Action(ID_VIEW_ARCHIVED_DATA));
    EXPECT_EQ(bar->currentMessage().toStdString(), "View archived data files");
    menu->hide();
    window()->menuBar()->setActiveAction(nullptr);
    bar->clearMessage();
    EXPECT_TRUE(window()->MessagePane()->isVisible());
}

TEST_F(Window, StartAndStopAreEnabledByTheAcquisitionState) {
    StartUp();
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_STOP));
    EXPECT_TRUE(EnabledInMenu(ID_VIEW_TERMINAL_DATA));

    window()->Action(ID_ACQUISITION_START)->trigger();
    ASSERT_NE(ActiveAcquisitionThread, nullptr);
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_STOP));

    window()->Action(ID_ACQUISITION_STOP)->trigger();
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_STOP));
}

TEST_F(Window, StoppedPageIsBlueBlackAndDarkGreen) {
    StartUp();
    const QImage page = Page();
    for (int y : {2, 18, 34}) {
        EXPECT_EQ(TextColoursAt(page, 10, y, 540), std::set<QRgb>{Colour(kBlue)}) << "y = " << y;
    }
    for (int i = 0; i < kStatusCount; ++i) {
        const int y = 60 + 16 * i;
        EXPECT_EQ(TextColoursAt(page, 10, y, 140), std::set<QRgb>{Colour(kBlack)}) << "y = " << y;
        EXPECT_EQ(TextColoursAt(page, 160, y), std::set<QRgb>{Colour(kDarkGreen)}) << "y = " << y;
    }
}

TEST_F(Window, RunningPageShowsProblemsInRedAndTimesInPurple) {
    StartUp();
    window()->Action(ID_ACQUISITION_START)->trigger();
    ASSERT_TRUE(WaitForRunningStatus());
    const QImage running = Page();
    EXPECT_EQ(TextColoursAt(running, 160, 60), std::set<QRgb>{Colour(kDarkGreen)});
    EXPECT_EQ(TextColoursAt(running, 160, 92), std::set<QRgb>{Colour(kRed)})
        << "no port open: \"" << StatusTextNow(kStatusPortsOpen) << "\"";
    EXPECT_EQ(TextColoursAt(running, 160, 108), std::set<QRgb>{Colour(kDarkGreen)});
    EXPECT_EQ(TextColoursAt(running, 160, 124), std::set<QRgb>{Colour(kPurple)})
        << "before the first update: \"" << StatusTextNow(kStatusReceivedData) << "\"";
    EXPECT_EQ(TextColoursAt(running, 160, 140), std::set<QRgb>{Colour(kPurple)});

    window()->Action(ID_ACQUISITION_STOP)->trigger();
    const QImage stopped = Page();
    for (int i = 0; i < kStatusCount; ++i) {
        const int y = 60 + 16 * i;
        EXPECT_EQ(TextColoursAt(stopped, 160, y), std::set<QRgb>{Colour(kDarkGreen)})
            << "y = " << y;
    }
}

TEST_F(Window, AutoStartsAtTheFirstPaintAndAgainAfterAStop) {
    StartUp({"/auto"});
    EXPECT_NE(ActiveAcquisitionThread, nullptr) << "started while the window was first painted";
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_STOP));
    window()->Action(ID_ACQUISITION_STOP)->trigger();
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    window()->showMinimized();
    window()->showNormal();
    EXPECT_TRUE(QTest::qWaitFor([] { return ActiveAcquisitionThread != nullptr; }, kDeadlineMs))
        << "the paint after the restore starts it again";
}

TEST_F(Window, ClosingWhileRunningStopsAcquisitionBeforeTheShutdownEntry) {
    StartUp();
    window()->Action(ID_ACQUISITION_START)->trigger();
    window()->Action(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(window()->isVisible());
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "03", "04", "02"}));
}

TEST_F(Window, TerminationSignalClosesTheWindowLikeItsCloseBox) {
    StartUp();
    window()->Action(ID_ACQUISITION_START)->trigger();
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window()->isVisible(); }, kDeadlineMs));
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "03", "04", "02"}));
}

TEST_F(Window, InterruptSignalClosesAnOpenBoxAndThenTheWindow) {
    StartUp();
    AnswerNextModal([](QWidget*) { std::raise(SIGINT); });
    window()->Action(ID_APP_ABOUT)->trigger();  // returns once the box is closed
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window()->isVisible(); }, kDeadlineMs));
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "02"}));
}

TEST_F(Window, ViewersStartedFromTheMenuAreEndedAtShutdown) {
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    programs.StayRunning(true);
    StartUp();
    testing_support::WriteFile(station.Output() + "/00001.sta", "statistics");
    window()->Action(ID_VIEW_DIAGNOSTIC_STATISTICS)->trigger();
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"xdg-open", station.Output() + "/00001.sta"}));
    ASSERT_EQ(ViewerProcesses.size(), 1u);
    const testing_support::ProcessWatch viewer(ViewerProcesses.front());
    window()->close();
    EXPECT_TRUE(viewer.Ended());
}

TEST_F(Window, MenuCommandMessagesAppearInAQuorvaneBoxWithOneButton) {
    StartUp();
    std::string caption;
    std::string text;
    int buttons = 0;
    AnswerNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle().toStdString();
        text = box->text().toStdString();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    window()->Action(ID_HELP_OPERATING_INSTRUCTIONS)->trigger();
    EXPECT_EQ(caption, "Quorvane");
    EXPECT_EQ(text, "Can't find QuorvaneHelpV1.3.doc.");
    EXPECT_EQ(buttons, 1);
}

TEST(OperatorMessages, AMessageFromAnotherThreadWaitsForOkInTheWindowsThread) {
    std::string caption;
    std::string text;
    AnswerNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle().toStdString();
        text = box->text().toStdString();
        box->button(QMessageBox::Ok)->click();
    });
    std::atomic<bool> returned{false};
    std::thread worker([&returned] {
        ShowOperatorMessageInWindow("Memory allocation error for array GotData.\n");
        returned.store(true);
    });
    EXPECT_TRUE(QTest::qWaitFor([&returned] { return returned.load(); }, kDeadlineMs));
    worker.join();
    EXPECT_EQ(caption, "Quorvane");
    EXPECT_EQ(text, "Memory allocation error for array GotData.\n");
}

TEST(TerminalDialogWindow, OkWithoutTouchingTheListGivesTheFirstPort) {
    QtFrontEnd front_end;
    CTerminalDlg choice;
    choice.PortChoice = 0;
    QString caption;
    int lines = 0;
    AnswerNextModal([&](QWidget* modal) {
        auto* dialog = dynamic_cast<TerminalDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        caption = dialog->windowTitle();
        lines = dialog->PortList()->count();
        EXPECT_EQ(dialog->PortList()->currentText(), "COM 1");
        dialog->OkButton()->click();
    });
    EXPECT_TRUE(front_end.ShowTerminalDialog(choice));
    EXPECT_EQ(choice.PortChoice, 0);
    EXPECT_EQ(caption, "Terminal Data");
    EXPECT_EQ(lines, 18);
}

TEST(TerminalDialogWindow, TheLastLineGivesPort18AndCancelKeepsTheChoice) {
    QtFrontEnd front_end;
    CTerminalDlg choice;
    choice.PortChoice = 0;
    AnswerNextModal([](QWidget* modal) {
        auto* dialog = dynamic_cast<TerminalDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->PortList()->setCurrentIndex(dialog->PortList()->count() - 1);
        EXPECT_EQ(dialog->PortList()->currentText(), "COM 18");
        dialog->OkButton()->click();
    });
    EXPECT_TRUE(front_end.ShowTerminalDialog(choice));
    EXPECT_EQ(choice.PortChoice, 17);

    AnswerNextModal([](QWidget* modal) {
        auto* dialog = dynamic_cast<TerminalDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->PortList()->setCurrentIndex(4);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_FALSE(front_end.ShowTerminalDialog(choice));
    EXPECT_EQ(choice.PortChoice, 17);
}

// Child part: start-up on the refused file of the station in the current
// directory; the box is answered with OK and its contents kept in box.txt.
TEST(RefusedConfigurationChild, DISABLED_StartUp) {
    QtFrontEnd front_end;
    CQuorvaneApp app(front_end);
    front_end.SetApplication(app);
    AnswerNextModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        std::ofstream out("box.txt");
        out << box->windowTitle().toStdString() << "\n"
            << box->buttons().size() << "\n"
            << box->text().toStdString();
        out.close();
        box->button(QMessageBox::Ok)->click();
    });
    app.InitInstance({});
    ADD_FAILURE() << "start-up went on after a refused file";
}

TEST(RefusedConfiguration, EndsWithStatusMinusOneAfterOk) {
    Station station;
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    station.WriteIniWithUnevenPeriod();

    EXPECT_EQ(testing_support::RunTestInChildProcess("RefusedConfigurationChild.DISABLED_StartUp"),
              testing_support::kExitStatusMinusOne);

    EXPECT_EQ(testing_support::ReadFile(station.Root() + "/box.txt"),
              std::string("Quorvane\n1\n") + testing_support::kUnevenPeriodBox);
    EXPECT_EQ(station.LogCodes(), std::vector<std::string>{"01"});
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"xdg-open", "Quorvane.ini"}));
}

TEST(AboutBoxWindow, EveryTextIsShownWhole) {
    AboutDialog dialog(nullptr);
    dialog.show();
    ExpectAboutBoxTextsWhole(dialog);
}

}  // namespace
