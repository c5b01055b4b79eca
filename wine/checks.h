// PASS/FAIL lines and their tally for the Wine test programs.
#pragma once

#include <cstdio>
#include <string>

namespace checks {

inline int passed = 0;
inline int failed = 0;

inline void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    if (ok) {
        ++passed;
    } else {
        ++failed;
    }
}

// Prints the tally; the program's exit code: 0 only when nothing failed.
inline int Finish() {
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace checks
