// A pseudo-terminal pair for tests: the code under test opens the slave by
// its path, the test plays the device on the master.
#pragma once

#include <termios.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ok() const { return master_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // Hangs the line up, as a device that goes away.
    void CloseMaster();

    // Writes every byte to the master side; false on failure.
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Reads up to count bytes from the master side, waiting at most
    // timeoutMs for them all.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs);
    // The slave's terminal settings, read through the master.
    termios SlaveSettings() const;

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Milliseconds since construction, on the monotonic clock.
class Stopwatch {
  public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

// Bounds for a wait that should last waitMs: no early return, and no hang on
// a loaded machine.
constexpr long long kEarlyToleranceMs = 10;
constexpr long long kLateToleranceMs = 2000;

// Opens path in a child process that has dropped every descriptor it
// inherited: 0 when the open is refused, 1 when it succeeds, other values
// when the child went wrong. When viaCom, the child uses ComOpen, else
// CreateFileA.
int OpenFromChildProcess(const std::string& path, bool viaCom);

// The TIOCEXCL state of the terminal at path, seen from a separate open: 1
// set, 0 clear, -1 unknown.
int ExclusiveFlag(const std::string& path);
