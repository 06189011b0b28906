// What engine tests observe of the acquisition thread, on any platform: the
// probe that tells what the ports delivered and when flushes happened (and
// can hold the thread still), the view that records every drawing block, and
// the log read back. Nothing sleeps: every wait is on a condition.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/status.h"

namespace engine_testing {

// Only reached when something is broken; generous, because a passing wait
// never spends it, and under ThreadSanitizer on a busy machine a period of
// three receive buffers took longer than 30 s to be read back and written.
inline constexpr auto kSafetyDeadline = std::chrono::seconds(120);

class Probe final : public AcquisitionProbe {
public:
    void OnPass(const int64_t* received, int count) override {
        std::unique_lock<std::mutex> lock(mutex_);
        received_.assign(received, received + count);
        ++passes_;
        held_ = hold_;
        changed_.notify_all();
        // A held thread stands still here, as a logger busy elsewhere would.
        changed_.wait(lock, [this] { return !hold_; });
        held_ = false;
    }
    void OnReceivedDuringFlush(const int64_t* received, int count) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.assign(received, received + count);
        }
        changed_.notify_all();
    }
    // Holds the acquisition thread in its next pass until Release().
    void Hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = true;
    }
    bool WaitUntilHeld() {
        return WaitFor([&] { return held_; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hold_ = false;
        }
        changed_.notify_all();
    }
    void OnFlush(int flushes) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            flushes_ = flushes;
        }
        changed_.notify_all();
    }
    // Waits until port position `port` has delivered `bytes` to the thread.
    bool WaitForReceived(int port, int64_t bytes) {
        return WaitFor([&] {
            return static_cast<int>(received_.size()) > port &&
                   received_[static_cast<size_t>(port)] >= bytes;
        });
    }
    void ForgetReceived() {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
    }
    bool WaitForFlushes(int flushes) {
        return WaitFor([&] { return flushes_ >= flushes; });
    }
    void ForgetFlushes() {
        std::lock_guard<std::mutex> lock(mutex_);
        flushes_ = 0;
    }
    bool WaitForPasses(int64_t passes) {
        return WaitFor([&] { return passes_ >= passes; });
    }
    // Forgets all it saw, as for a new process.
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.clear();
        passes_ = 0;
        flushes_ = 0;
    }
    // Wakes a wait so that it looks at its condition again.
    void Poke() {
        std::lock_guard<std::mutex> lock(mutex_);
        changed_.notify_all();
    }
    // Waits until `condition` holds (it runs under the probe's lock, so it
    // reads the *_locked accessors) or `deadline` has passed; true when it holds.
    template <typename Condition>
    bool WaitFor(Condition condition,
                 std::chrono::steady_clock::duration deadline = kSafetyDeadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, deadline, condition);
    }
    int64_t passes_locked() const { return passes_; }
    int flushes_locked() const { return flushes_; }
    bool held_locked() const { return held_; }
    int64_t received_locked(int port) const {
        return static_cast<size_t>(port) < received_.size() ? received_[static_cast<size_t>(port)]
                                                            : 0;
    }
    int64_t passes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return passes_;
    }
    int flushes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return flushes_;
    }
    int64_t received(int port) {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_locked(port);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> received_;
    int64_t passes_ = 0;
    int flushes_ = 0;
    bool hold_ = false;
    bool held_ = false;
};

class RecordingView final : public StatusObserver {
public:
    void OnStatusDrawn(const std::vector<StatusDraw>& block) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            blocks_.push_back(block);
        }
        drawn_.notify_all();
    }
    // Waits until the text is drawn as `value` followed by blanks only (a
    // later draw than the one the last wait found); true when it was.
    bool WaitForDrawn(StatusIndex index, const std::string& value) {
        std::unique_lock<std::mutex> lock(mutex_);
        return drawn_.wait_for(lock, kSafetyDeadline, [&] {
            size_t& seen = seen_[static_cast<size_t>(index)];
            for (size_t b = seen; b < blocks_.size(); ++b) {
                for (const StatusDraw& draw : blocks_[b]) {
                    if (draw.index == index && draw.text.rfind(value, 0) == 0 &&
                        draw.text.find_first_not_of(' ', value.size()) == std::string::npos) {
                        seen = b + 1;
                        return true;
                    }
                }
            }
            return false;
        });
    }
    std::vector<std::vector<StatusDraw>> Blocks() {
        std::lock_guard<std::mutex> lock(mutex_);
        return blocks_;
    }
    // Whether the text was ever drawn as `value` followed by blanks only.
    bool WasDrawn(StatusIndex index, const std::string& value) {
        for (const StatusDraw& draw : DrawsOf(index)) {
            if (draw.text.rfind(value, 0) == 0 &&
                draw.text.find_first_not_of(' ', value.size()) == std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // Every draw of one text, in order.
    std::vector<StatusDraw> DrawsOf(StatusIndex index) {
        std::vector<StatusDraw> draws;
        for (const auto& block : Blocks()) {
            for (const StatusDraw& draw : block) {
                if (draw.index == index) {
                    draws.push_back(draw);
                }
            }
        }
        return draws;
    }

private:
    std::mutex mutex_;
    std::condition_variable drawn_;
    std::vector<std::vector<StatusDraw>> blocks_;
    std::array<size_t, kStatusCount> seen_{};  // per text, the blocks a wait has looked past
};

// Records of 64 bytes each ("nnnnnn ...\n"), eight to a 512-byte read block,
// numbered from `first`: a test can send whole blocks of whole records.
std::string WholeRecords(int first, int count);

// The log's entries without their time stamps (the header lines dropped).
std::vector<std::string> LogMessages(const std::string& log);
// The log's entries with their time stamps.
std::vector<std::string> LogLines(const std::string& log);
// The entries (without time stamps) of any of `codes`, in the log's order.
std::vector<std::string> LinesWithCodes(const std::string& log,
                                        const std::vector<std::string>& codes);

}  // namespace engine_testing
