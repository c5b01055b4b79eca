// Plays the host's err for tests: every log line the module writes is
// formatted as the host would and kept with its category.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/log.h"

struct TraceLine {
    std::uint32_t category;
    std::string text;

    bool operator==(const TraceLine& other) const {
        return category == other.category && text == other.text;
    }
};

inline std::ostream& operator<<(std::ostream& out, const TraceLine& line) {
    return out << "[" << line.category << "] \"" << line.text << "\"";
}

// Installs itself as the host's log sink for its lifetime (one at a time).
class TraceRecorder {
  public:
    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    const std::vector<TraceLine>& Lines() const { return lines_; }
    // The texts alone, in order.
    std::vector<std::string> Texts() const;
    void Clear() { lines_.clear(); }

  private:
    static int VPI_CDECL Sink(unsigned int category, const char* format, ...);

    std::vector<TraceLine> lines_;
    HostErrFunction previous_;
};

// A trace line of the ordinary category.
inline TraceLine Trace(std::string text) {
    return TraceLine{kLogTrace, std::move(text)};
}
