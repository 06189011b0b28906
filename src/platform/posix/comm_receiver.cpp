#include "platform/posix/comm_receiver.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unordered_map>

namespace platform::posix {
namespace {

// Reads per device and wake-up at the most, so one fast line cannot starve
// the others; epoll reports it again at once if it has more.
constexpr int kReadsPerWakeUp = 16;

class Receiver {
public:
    bool Start(const std::shared_ptr<CommDevice>& device);
    void Stop(CommDevice* device);

private:
    // The thread's loop over its own epoll set; it ends when its control
    // descriptor becomes readable.
    void Run(int epoll);
    // Reads what the device has; true when a waiter's level was reached.
    bool Serve(CommDevice& device, uint32_t events);
    // Reads into the queue until the device has nothing more, the queue is
    // full or the device's share of this wake-up is used; true when the
    // device had nothing more (or has gone).
    bool ReadInto(CommDevice& device);
    // The queue is full: a device with more to give waits.
    void HoldBack(CommDevice& device, uint32_t events, bool read_now);
    void MarkGone(CommDevice& device, const char* reason);

    // Held by the thread while it serves the devices of one wake-up, so that
    // Stop, which takes it, returns only when the device is left alone.
    std::mutex mutex_;
    std::unordered_map<uint64_t, std::shared_ptr<CommDevice>> devices_;
    std::unordered_map<CommDevice*, uint64_t> ids_;
    uint64_t next_id_ = 1;  // 0 is the control descriptor
    int epoll_ = -1;        // of the running thread
    int control_ = -1;      // an eventfd that ends the running thread
    std::thread thread_;
};

void CloseEpoll(int& epoll, int& control);

// Never destroyed: ports are still closed by exit handlers (PortCloseAll)
// after the statics of this file would have gone.
Receiver& TheReceiver() {
    static Receiver& receiver = *new Receiver;
    return receiver;
}

}  // namespace

CommWaitRoom& WaitRoom() {
    static CommWaitRoom& room = *new CommWaitRoom;
    return room;
}

namespace {

void NotifyArrival() {
    CommWaitRoom& room = WaitRoom();
    {
        std::lock_guard<std::mutex> lock(room.mutex);
        ++room.arrivals;
    }
    room.changed.notify_all();
}

bool OpenEpoll(int& epoll, int& control) {
    epoll = ::epoll_create1(EPOLL_CLOEXEC);
    control = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = 0;
    if (epoll >= 0 && control >= 0 && ::epoll_ctl(epoll, EPOLL_CTL_ADD, control, &event) == 0) {
        return true;
    }
    const int error = errno;
    CloseEpoll(epoll, control);
    errno = error;
    return false;
}

void CloseEpoll(int& epoll, int& control) {
    if (control >= 0) {
        ::close(control);
    }
    if (epoll >= 0) {
        ::close(epoll);
    }
    control = -1;
    epoll = -1;
}

bool Receiver::Start(const std::shared_ptr<CommDevice>& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        if (!OpenEpoll(epoll_, control_)) {
            return false;
        }
        thread_ = std::thread([this, epoll = epoll_] { Run(epoll); });
    }
    const uint64_t id = next_id_++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, device->fd, &event) != 0) {
        return false;
    }
    {
        std::lock_guard<std::mutex> device_lock(device->mutex);
        device->receiveSet = epoll_;
        device->receiveId = id;
    }
    devices_.emplace(id, device);
    ids_.emplace(device.get(), id);
    return true;
}

void Receiver::Stop(CommDevice* device) {
    std::thread ending;
    int epoll = -1;
    int control = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = ids_.find(device);
        if (it == ids_.end()) {
            return;
        }
        {
            // From now on no reader puts the device back into the set.
            std::lock_guard<std::mutex> device_lock(device->mutex);
            device->receiveSet = -1;
            device->ResumeIfRoom();  // ends a wait
        }
        // A gone or waiting device is out already.
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, device->fd, nullptr);
        devices_.erase(it->second);
        ids_.erase(it);
        if (!devices_.empty()) {
            return;
        }
        // The last device: the thread ends. A device opened meanwhile gets a
        // thread and an epoll set of its own.
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t put = ::write(control_, &one, sizeof one);
        ending = std::move(thread_);
        std::swap(epoll, epoll_);
        std::swap(control, control_);
    }
    ending.join();
    CloseEpoll(epoll, control);
}

void Receiver::Run(int epoll) {
    pthread_setname_np(pthread_self(), kReceiveThreadName);
    std::array<epoll_event, 32> events{};
    for (;;) {
        const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), -1);
        if (n < 0 && errno != EINTR) {
            return;
        }
        bool reached = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int i = 0; i < n; ++i) {
                const epoll_event& event = events[static_cast<size_t>(i)];
                if (event.data.u64 == 0) {
                    return;
                }
                const auto it = devices_.find(event.data.u64);
                if (it != devices_.end()) {
                    reached = Serve(*it->second, event.events) || reached;
                }
            }
        }
        if (reached) {
            NotifyArrival();
        }
    }
}

void Receiver::MarkGone(CommDevice& device, const char* reason) {
    device.gone = true;
    device.goneReason = reason;
    // Out of the set, or a hung-up line would wake every wait (the thread
    // serves only while holding mutex_, so epoll_ is its own set).
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, device.fd, nullptr);
}

bool Receiver::Serve(CommDevice& device, uint32_t events) {
    std::lock_guard<std::mutex> lock(device.mutex);
    if (device.gone) {
        // Found gone by its user (its node was removed): no more reading.
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, device.fd, nullptr);
        return false;
    }
    if (device.paused) {
        return false;  // reported before it was paused
    }
    const size_t before = device.count;
    bool drained = ReadInto(device);
    if (!drained && device.count == device.queue.size()) {
        HoldBack(device, events, device.count > before);
        drained = device.gone;
    }
    // A hang-up is the end of the line once what it still had is read.
    if (!device.gone && drained && (events & (EPOLLHUP | EPOLLERR)) != 0) {
        MarkGone(device, (events & EPOLLERR) != 0 ? "device error" : "hung up");
    }
    device.UpdateDtrHandshake();
    if (device.wakeLevel > 0 && (device.count >= device.wakeLevel || device.gone)) {
        device.wakeLevel = 0;  // one wake-up per wait
        return true;
    }
    return false;
}

bool Receiver::ReadInto(CommDevice& device) {
    for (int reads = 0; reads < kReadsPerWakeUp; ++reads) {
        iovec pieces[2];
        const int count = device.FreePieces(pieces);
        if (count == 0) {
            return false;
        }
        const ssize_t got = ::readv(device.fd, pieces, count);
        if (got > 0) {
            device.Appended(static_cast<size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && errno != EAGAIN) {
            // EIO and the like: the line is gone (a closed pseudo-terminal
            // master, an unplugged adapter).
            MarkGone(device, std::strerror(errno));
            return true;
        } else {
            return true;  // a raw tty answers 0 (or EAGAIN) when nothing waits
        }
    }
    return false;
}

void Receiver::HoldBack(CommDevice& device, uint32_t events, bool read_now) {
    int waiting = 1;  // unknown counts as more to give
    ::ioctl(device.fd, FIONREAD, &waiting);
    if (waiting > 0) {
        device.PauseReading();
    } else if ((events & (EPOLLHUP | EPOLLERR)) != 0) {
        // Nothing more will come; what the queue holds stays readable.
        MarkGone(device, (events & EPOLLERR) != 0 ? "device error" : "hung up");
    } else if (!read_now) {
        // Reported readable with nothing to read and no room: rather than be
        // woken for it again and again, the thread waits for room.
        device.PauseReading();
    }
    // Otherwise the next byte the device receives wakes the thread, which
    // then finds the queue still full and pauses the device.
}

}  // namespace

bool StartReceiving(const std::shared_ptr<CommDevice>& device) {
    return TheReceiver().Start(device);
}

void StopReceiving(CommDevice* device) {
    TheReceiver().Stop(device);
}

}  // namespace platform::posix
