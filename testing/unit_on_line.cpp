#include "testing/unit_on_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {
constexpr std::size_t kLongestPortName = 11;
}  // namespace

UnitOnLine::UnitOnLine(sim::FaultPlan faults, bool answer) : unit_(faults), answer_(answer) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        return;
    }
    const char* slave = ptsname(master_);
    if (slave == nullptr) {
        return;
    }
    const std::string slavePath = slave;
    // A slave descriptor held open keeps the line up between the module's
    // opens; raw mode keeps the line discipline from echoing early bytes.
    holder_ = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (holder_ < 0) {
        return;
    }
    termios raw{};
    if (tcgetattr(holder_, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(holder_, TCSANOW, &raw);
    }
    if (slavePath.size() <= kLongestPortName) {
        name_ = slavePath;
    } else {
        name_ = "/tmp/vz" + std::to_string(getpid() % 10000);
        unlink(name_.c_str());
        if (symlink(slavePath.c_str(), name_.c_str()) != 0) {
            return;
        }
        linked_ = true;
    }
    ok_ = true;
    server_ = std::thread([this] { Serve(); });
}

UnitOnLine::~UnitOnLine() {
    stop_ = true;
    if (server_.joinable()) {
        server_.join();
    }
    if (linked_) {
        unlink(name_.c_str());
    }
    if (holder_ >= 0) {
        close(holder_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void UnitOnLine::Set(sim::GateKey gate, std::uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    unit_.Set(gate, value);
}

std::uint8_t UnitOnLine::Get(sim::GateKey gate) {
    std::lock_guard<std::mutex> lock(mutex_);
    return unit_.Get(gate);
}

sim::Counters UnitOnLine::Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return unit_.Stats();
}

void UnitOnLine::Serve() {
    std::uint8_t buffer[256];
    while (!stop_) {
        pollfd watch{master_, POLLIN, 0};
        if (poll(&watch, 1, 20) <= 0 || (watch.revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        sim::Bytes reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reply = unit_.Feed(buffer, static_cast<std::size_t>(n));
        }
        std::size_t done = 0;
        while (answer_ && done < reply.size()) {
            const ssize_t written = write(master_, reply.data() + done, reply.size() - done);
            if (written < 0 && errno != EINTR && errno != EAGAIN) {
                break;
            }
            done += written > 0 ? static_cast<std::size_t>(written) : 0;
        }
    }
}
