// vezivadu-sim: a simulated unit on a pseudo-terminal.
//
// Prints the serial device to open ("serving on /dev/pts/N"), optionally
// links a stable name to it, and answers frames until SIGINT or SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/unit.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: vezivadu-sim [--link PATH] [--delay MS] [--set SS_FFF_EE=VALUE]...\n"
                 "                    [--corrupt-every N] [--silent-every N] [--truncate-every N]\n"
                 "                    [--verbose]\n");
}

bool ParseGate(const char* text, sim::GateKey* gate, unsigned* value) {
    unsigned slave = 0;
    unsigned function = 0;
    unsigned equipment = 0;
    int used = 0;
    if (std::sscanf(text, "%2u_%3u_%2u=%u%n", &slave, &function, &equipment, value, &used) != 4 ||
        text[used] != '\0' || slave > 255 || function > 255 || equipment > 255 || *value > 255) {
        return false;
    }
    *gate = {static_cast<std::uint8_t>(slave), static_cast<std::uint8_t>(function),
             static_cast<std::uint8_t>(equipment)};
    return true;
}

void Dump(const char* direction, const sim::Bytes& bytes) {
    std::fprintf(stderr, "vezivadu-sim: %s", direction);
    for (std::uint8_t byte : bytes) {
        std::fprintf(stderr, " %02x", byte);
    }
    std::fprintf(stderr, "\n");
}

bool WriteAll(int fd, const sim::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    unsigned delayMs = 0;
    bool verbose = false;
    sim::FaultPlan faults;
    sim::Unit unit;
    struct Preset {
        sim::GateKey gate;
        unsigned value;
    };
    std::vector<Preset> presets;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue) {
            link = argv[++i];
        } else if (arg == "--delay" && hasValue) {
            delayMs = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--corrupt-every" && hasValue) {
            faults.corruptValueEvery = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--silent-every" && hasValue) {
            faults.silentEvery = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--truncate-every" && hasValue) {
            faults.truncateEvery = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--set" && hasValue) {
            Preset preset{};
            if (!ParseGate(argv[++i], &preset.gate, &preset.value)) {
                std::fprintf(stderr, "vezivadu-sim: bad gate setting '%s'\n", argv[i]);
                return 2;
            }
            presets.push_back(preset);
        } else if (arg == "--verbose") {
            verbose = true;
        } else {
            Usage();
            return 2;
        }
    }
    unit = sim::Unit(faults);
    for (const Preset& preset : presets) {
        unit.Set(preset.gate, static_cast<std::uint8_t>(preset.value));
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("vezivadu-sim: pseudo-terminal");
        return 1;
    }
    const char* slaveName = ptsname(master);
    if (slaveName == nullptr) {
        std::perror("vezivadu-sim: ptsname");
        return 1;
    }
    const std::string slavePath = slaveName;
    // Hold the slave side open in raw mode so that the line stays up between
    // the master's opens and nothing is echoed before its first open.
    int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("vezivadu-sim: slave");
        return 1;
    }
    termios raw{};
    if (tcgetattr(slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    if (!link.empty()) {
        unlink(link.c_str());
        if (symlink(slavePath.c_str(), link.c_str()) != 0) {
            std::perror("vezivadu-sim: link");
            return 1;
        }
    }

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    std::printf("vezivadu-sim: serving on %s\n", slavePath.c_str());
    std::fflush(stdout);

    std::uint8_t buffer[256];
    while (stopRequested == 0) {
        pollfd watch{master, POLLIN, 0};
        int ready = poll(&watch, 1, 200);
        if (ready < 0 && errno != EINTR) {
            std::perror("vezivadu-sim: poll");
            break;
        }
        if (ready <= 0 || (watch.revents & POLLIN) == 0) {
            continue;
        }
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        sim::Bytes in(buffer, buffer + n);
        if (verbose) {
            Dump("<-", in);
        }
        sim::Bytes out = unit.Feed(buffer, static_cast<std::size_t>(n));
        if (out.empty()) {
            continue;
        }
        if (delayMs != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
        if (verbose) {
            Dump("->", out);
        }
        if (!WriteAll(master, out)) {
            std::perror("vezivadu-sim: write");
            break;
        }
    }

    const sim::Counters& stats = unit.Stats();
    std::fprintf(stderr,
                 "vezivadu-sim: %u read, %u write, %u init frames; %u bad checksums; "
                 "%u corrupted, %u silenced, %u truncated replies\n",
                 stats.readRequests, stats.writeRequests, stats.masterInits, stats.badChecksums,
                 stats.repliesCorrupted, stats.repliesSilenced, stats.repliesTruncated);
    if (!link.empty()) {
        unlink(link.c_str());
    }
    close(slave);
    close(master);
    return 0;
}
