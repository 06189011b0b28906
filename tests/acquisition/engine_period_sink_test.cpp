// A consumer of the periods beside the data files: one class and one
// registration. The example keeps each port's text and times, and what it
// was handed equals what the data file holds between its markers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/period_sink.h"
#include "support/engine_harness.h"

namespace {

using engine_testing::EngineTest;
using testing_support::Port;

// The example: every period's text of every port, whole, in order.
class TextCollector final : public PeriodSink {
public:
    void TakePeriod(const EndedPeriod& period) override {
        for (size_t p = 0; p < period.ports.size(); ++p) {
            texts_.resize(period.ports.size());
            texts_[p] += WholeText(period, static_cast<int>(p));
        }
        ends_.push_back(period.end);
    }
    std::vector<std::string> texts_;
    std::vector<int64_t> ends_;

private:
    static std::string WholeText(const EndedPeriod& period, int position) {
        const auto whole = period.whole_text(position);
        if (!whole) {
            return std::string(period.InMemory(position));
        }
        std::string text;
        whole->Rewind();
        for (std::string_view piece = whole->Next(); !piece.empty(); piece = whole->Next()) {
            text += piece;
        }
        return text;
    }
};

class PeriodSinks : public EngineTest {
protected:
    PeriodSinks() { AddPeriodSink(&collector_); }
    ~PeriodSinks() override {
        Stop();
        RemovePeriodSink(&collector_);
    }
    TextCollector collector_;
};

TEST_F(PeriodSinks, AnAddedSinkGetsEveryPeriodsTextAsTheDataFilesDo) {
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& wind = AddPty();
    SetTime(10, 7, 30, 250);
    Start(testing_support::MakeTestConfig(
        dir_.path(), 15,
        {Port(1, "Thermo").WithDevice(thermo.path()), Port(2, "Wind").WithDevice(wind.path())}));
    Send(thermo, 0, "21.5 1013\n");
    Send(wind, 1, "3.2 270\n");
    EndPeriodAt(10, 15);
    Send(thermo, 0, "21.6 1012\n");
    EndPeriodAt(10, 30);
    Stop();

    ASSERT_EQ(collector_.texts_.size(), 2u);
    EXPECT_EQ(collector_.texts_[0], "21.5 1013\n21.6 1012\n");
    EXPECT_EQ(collector_.texts_[1], "3.2 270\n");
    ASSERT_GE(collector_.ends_.size(), 2u);  // and the stop's, after 10:30
    EXPECT_EQ(collector_.ends_[1] - collector_.ends_[0], 15 * 60);
    // The data file holds the same text between its markers.
    const std::string data = File("2406110.P01");
    EXPECT_NE(data.find("StartTime\n21.5 1013\n21.6 1012\n"), std::string::npos) << data;
}

}  // namespace
