#include "support/uart_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
// The line delivers a chunk every so often, as a UART's FIFO does; the
// pause is the line's own pace, not a wait for anything.
constexpr auto kChunkInterval = std::chrono::milliseconds(1);
// How late the writer may be before its instrument is taken to have paused.
constexpr double kLongestLateness = 0.05;

}  // namespace

UartWriter::UartWriter(int fd, std::string data, double bytes_per_second, bool keep_accepted)
    : fd_(fd), data_(std::move(data)), rate_(bytes_per_second), keep_accepted_(keep_accepted) {
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

UartWriter::~UartWriter() {
    Finish();
}

void UartWriter::Start() {
    thread_ = std::thread([this] { Run(); });
}

void UartWriter::Finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string UartWriter::Accepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

void UartWriter::Run() {
    auto start = Clock::now();
    size_t next = 0;
    while (next < data_.size()) {
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // A writer that did not get the processor for a while (a busy
        // machine) would offer all it missed at once, and the pty would
        // refuse what no UART would have sent in a burst: the instrument is
        // taken to have paused instead, so that a refusal always means the
        // reader did not read.
        const double behind = elapsed - static_cast<double>(next) / rate_;
        if (behind > kLongestLateness) {
            const auto paused = std::chrono::duration<double>(behind - kLongestLateness);
            start += std::chrono::duration_cast<Clock::duration>(paused);
            elapsed -= paused.count();
            paused_seconds_.store(paused_seconds_.load() + paused.count());
        }
        const size_t due = std::min(data_.size(), static_cast<size_t>(elapsed * rate_));
        if (due > next) {
            ssize_t put = -1;
            do {
                put = ::write(fd_, data_.data() + next, due - next);
            } while (put < 0 && errno == EINTR);
            const size_t taken = put > 0 ? static_cast<size_t>(put) : 0;
            if (keep_accepted_) {
                std::lock_guard<std::mutex> lock(mutex_);
                accepted_.append(data_, next, taken);
            }
            // What the full line did not take is gone.
            if (taken < due - next) {
                refused_ += static_cast<int64_t>(due - next - taken);
                if (first_refusal_.load() < 0) {
                    first_refusal_.store(elapsed);
                }
                last_refusal_.store(elapsed);
            }
            next = due;
            offered_.store(static_cast<int64_t>(next));
        }
        if (next < data_.size()) {
            std::this_thread::sleep_for(kChunkInterval);
        }
    }
}

}  // namespace testing_support
