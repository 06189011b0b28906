// An instrument on a UART without flow control, for tests and benchmarks of
// loss. A pseudo-terminal throttles its writer, so nothing could ever be lost
// through one; this writer does not wait: it offers its bytes at a set line
// rate with non-blocking writes, and every byte the pty refuses is lost, as
// a UART loses what nobody reads. It is never offered again. A writer that
// does not get the processor in time lets its instrument pause rather than
// offer a burst no UART would send. (Linux.)
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class UartWriter {
public:
    // Offers `data` on `fd` (a pty master) at `bytes_per_second`, from Start()
    // until all of it has been offered. Without `keep_accepted` the bytes the
    // line took are only counted (a benchmark that measures memory).
    UartWriter(int fd, std::string data, double bytes_per_second, bool keep_accepted = true);
    ~UartWriter();
    UartWriter(const UartWriter&) = delete;
    UartWriter& operator=(const UartWriter&) = delete;

    void Start();
    // Waits until every byte has been offered.
    void Finish();

    // The bytes the line took, in order, and how many it refused.
    std::string Accepted() const;
    int64_t refused() const { return refused_.load(); }
    // When the line first and last refused bytes, in seconds from Start();
    // both -1 while it has refused nothing.
    double first_refusal() const { return first_refusal_.load(); }
    double last_refusal() const { return last_refusal_.load(); }
    int64_t offered() const { return offered_.load(); }
    // How long, in all, the instrument was taken to have paused because its
    // writer itself did not get the processor in time (a busy machine).
    double paused_seconds() const { return paused_seconds_.load(); }
    size_t size() const { return data_.size(); }

private:
    void Run();

    int fd_;
    const std::string data_;
    const double rate_;
    const bool keep_accepted_;
    std::atomic<int64_t> offered_{0};
    std::atomic<int64_t> refused_{0};
    std::atomic<double> first_refusal_{-1};
    std::atomic<double> last_refusal_{-1};
    std::atomic<double> paused_seconds_{0};
    mutable std::mutex mutex_;
    std::string accepted_;
    std::thread thread_;
};

}  // namespace testing_support
