// Runs a fuzz target without libFuzzer: over the files named on the command
// line, or over a fixed, reproducible series of pseudo-random inputs
// ("--runs N"), so that the targets also run as ordinary tests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    unsigned long runs = 0;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::strtoul(argv[++i], nullptr, 10);
        } else {
            files.push_back(argv[i]);
        }
    }
    for (const char* name : files) {
        std::ifstream file(name, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::vector<std::uint8_t> input;
    for (unsigned long run = 0; run < runs; ++run) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        input.resize(state % 96);
        for (std::uint8_t& byte : input) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            // Bias towards the bytes that matter to frames and addresses.
            static const std::uint8_t kInteresting[] = {0xFF, 0x07, 0xF0, 0x65, 0x03, 0x00,
                                                        '0',  '1',  '_',  '4',  'A'};
            byte = (state & 3) == 0 ? kInteresting[(state >> 8) % sizeof kInteresting]
                                    : static_cast<std::uint8_t>(state >> 16);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%lu generated inputs and %zu files ran without a fault\n", runs, files.size());
    return 0;
}
