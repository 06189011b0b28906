// A whole shell on a scripted front end, started on a station of its own.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>

#include "acquisition/acquisition_thread.h"
#include "app/quorvane_app.h"
#include "app/viewers.h"
#include "scripted_front_end.h"
#include "support/station.h"

namespace testing_support {

class ShellTest : public ::testing::Test {
public:
    static std::string Text(StatusIndex index) {
        std::lock_guard<std::mutex> lock(StatusLock);
        return StatusText(index);
    }

protected:
    void TearDown() override {
        if (app_ != nullptr) {
            app_->View().OnDestroy();
        }
        ForgetViewerProcesses();
        CommandLineArgument.reset();
    }

    // Start-up on `ini` (a valid file without ports when empty).
    void StartUp(const std::vector<std::string>& arguments = {}, std::string ini = "") {
        station.WriteIni(ini.empty() ? station.ValidIni() : ini);
        app_ = std::make_unique<CQuorvaneApp>(front_end);
        ASSERT_TRUE(app_->InitInstance(arguments));
    }

    CQuorvaneApp& app() { return *app_; }
    CQuorvaneView& view() { return app_->View(); }
    bool Running() const { return ActiveAcquisitionThread != nullptr; }

    Station station;
    ScriptedFrontEnd front_end;

private:
    std::unique_ptr<CQuorvaneApp> app_;
};

}  // namespace testing_support
