#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/records.h"
#include "points/gate_address.h"
#include "testing/trace_recorder.h"

namespace {

constexpr std::uint32_t kMarker = 0xA5A5A5A5u;
constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;

// A text that ends right before a page nobody may touch: reading one byte
// past it, or past its NUL, crashes the test.
class GuardedText {
  public:
    GuardedText() {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* area =
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_NE(area, MAP_FAILED);
        base_ = static_cast<char*>(area);
        EXPECT_EQ(mprotect(base_ + page_, page_, PROT_NONE), 0);
    }
    ~GuardedText() { munmap(base_, 2 * page_); }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    // The bytes as given (no NUL added) placed so their last byte is the
    // last readable one.
    const char* Place(const std::string& bytes) {
        char* start = base_ + page_ - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }

  private:
    std::size_t page_ = 0;
    char* base_ = nullptr;
};

class AddressParser : public ::testing::Test {
  protected:
    struct Guarded {
        AddressParseRecord record;
        std::uint32_t after[4];
    };

    void SetUp() override { std::memset(&area, 0xA5, sizeof area); }

    std::uint32_t ParseThroughHandler(const char* address, std::uint32_t gateType) {
        area.record.address = address;
        area.record.gateType = gateType;
        VpiRequest request{nullptr, 3, 0, 0, &area.record};
        return SingleAddressParser(&request);
    }

    std::vector<std::uint32_t> OutputWords() const {
        return {area.record.outWord16, area.record.functionDigit, area.record.outWord24,
                area.record.outWord28, area.record.outWord32};
    }

    bool RestUntouched() const {
        return area.record.unused4 == kMarker && area.record.unused12 == kMarker &&
               area.after[0] == kMarker && area.after[1] == kMarker && area.after[2] == kMarker &&
               area.after[3] == kMarker;
    }

    Guarded area;
    TraceRecorder trace;
};

struct Verdict {
    const char* address;
    std::uint32_t gateType;
    std::uint32_t result;
    std::vector<std::uint32_t> words;  // empty: left as they were
    std::vector<TraceLine> lines;
};

const std::vector<std::uint32_t> kWords101{1, 1, 1, kAllOnes, kAllOnes};
const std::vector<std::uint32_t> kWords104{1, 4, 1, kAllOnes, kAllOnes};
const TraceLine kDigital = Trace("RUVAZI> SingleParse() Gate type should be DIGITAL");

TraceLine Illegal(int position, const std::string& text) {
    return Trace("RUVAZI> Parse() Illegal character " + std::to_string(position) + " in '" + text +
                 "'");
}

TraceLine WrongLength(const std::string& text) {
    return Trace("RUVAZI> Parse() wrong length address string '" + text + "'");
}

TEST_F(AddressParser, AcceptsAndRefusesAsTheSyntaxAndGateTypeSay) {
    const std::vector<Verdict> cases = {
        {"01_101_05", 6, 0, kWords101, {}},
        {"99_104_00", 0, 0, kWords104, {}},
        {"FF_101_05", 6, 0, kWords101, {}},
        {"A0_104_99", 0, 0, kWords104, {}},
        {"3F_104_00", 0, 0, kWords104, {}},
        // Gate-type refusals come after the words are written.
        {"01_101_05", 0, 1, kWords101, {kDigital}},
        {"01_104_05", 6, 1, kWords104, {kDigital}},
        {"01_101_05", 0x106, 1, kWords101, {kDigital}},
        {"01_104_05", 0x100, 1, kWords104, {kDigital}},
        // Syntax refusals: the first offending position, words untouched.
        {"G1_101_05", 6, 1, {}, {Illegal(0, "G1_101_05")}},
        {"0a_101_05", 6, 1, {}, {Illegal(1, "0a_101_05")}},
        {"01-101_05", 6, 1, {}, {Illegal(2, "01-101_05")}},
        {"01_001_05", 6, 1, {}, {Illegal(3, "01_001_05")}},
        {"01_111_05", 6, 1, {}, {Illegal(4, "01_111_05")}},
        {"01_102_05", 6, 1, {}, {Illegal(5, "01_102_05")}},
        {"01_101-05", 6, 1, {}, {Illegal(6, "01_101-05")}},
        {"01_101_A5", 6, 1, {}, {Illegal(7, "01_101_A5")}},
        {"01_101_0X", 6, 1, {}, {Illegal(8, "01_101_0X")}},
        {"0a-1x1_0X", 6, 1, {}, {Illegal(1, "0a-1x1_0X")}},
        {"01_101_5", 6, 1, {}, {WrongLength("01_101_5")}},
        {"01_101_05 ", 6, 1, {}, {WrongLength("01_101_05 ")}},
        {"", 6, 1, {}, {WrongLength("")}},
    };
    for (const Verdict& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " type " + std::to_string(c.gateType));
        SetUp();
        trace.Clear();
        EXPECT_EQ(ParseThroughHandler(c.address, c.gateType), c.result);
        if (c.words.empty()) {
            EXPECT_EQ(OutputWords(), std::vector<std::uint32_t>(5, kMarker));
        } else {
            EXPECT_EQ(OutputWords(), c.words);
        }
        EXPECT_EQ(area.record.gateType, c.gateType);
        EXPECT_TRUE(RestUntouched());
        EXPECT_EQ(trace.Lines(), c.lines);
    }
}

TEST_F(AddressParser, LongTextIsRefusedShowingAtMost31Characters) {
    const std::string text(200, '7');
    EXPECT_EQ(ParseThroughHandler(text.c_str(), 6), 1u);
    EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{WrongLength(std::string(31, '7'))});
    EXPECT_EQ(OutputWords(), std::vector<std::uint32_t>(5, kMarker));
    EXPECT_TRUE(RestUntouched());
    EXPECT_EQ(text, std::string(200, '7'));
}

TEST_F(AddressParser, NeverReadsPastTheNulOrPast32Characters) {
    GuardedText guarded;
    // 32 characters and no NUL within reach: refused on its length.
    EXPECT_EQ(ParseThroughHandler(guarded.Place(std::string(32, 'A')), 6), 1u);
    // A short text whose NUL is the last readable byte.
    EXPECT_EQ(ParseThroughHandler(guarded.Place(std::string("01_10\0", 6)), 6), 1u);
    // A good address ending right at the guard.
    EXPECT_EQ(ParseThroughHandler(guarded.Place(std::string("01_101_05\0", 10)), 6), 0u);
    EXPECT_EQ(trace.Lines(),
              (std::vector<TraceLine>{WrongLength(std::string(31, 'A')), WrongLength("01_10")}));
}

TEST_F(AddressParser, MissingRecordOrAddressIsRefused) {
    VpiRequest noRecord{nullptr, 3, 0, 0, nullptr};
    EXPECT_EQ(SingleAddressParser(&noRecord), 1u);
    EXPECT_EQ(ParseThroughHandler(nullptr, 6), 1u);
    EXPECT_EQ(OutputWords(), std::vector<std::uint32_t>(5, kMarker));
    area.record.address = nullptr;
    EXPECT_EQ(Parse(&area.record), 1u);
    EXPECT_EQ(trace.Lines(), (std::vector<TraceLine>{
                                 Trace("RUVAZI> SingleAddressParser() called without its record"),
                                 Trace("RUVAZI> SingleAddressParser() called without its record"),
                                 Trace("RUVAZI> Parse() called without its record")}));
}

TEST(AllowedCharacters, OneSetPerPosition) {
    const std::vector<std::string> expected = {
        "0123456789ABCDEF", "0123456789ABCDEF", "_", "1", "0", "14", "_",
        "0123456789",       "0123456789",
    };
    for (std::size_t i = 0; i < kGateAddressLength; ++i) {
        EXPECT_EQ(kAllowedCharacters[i], expected[i]) << "position " << i;
    }
}

struct Conversion {
    const char* text;
    std::uint32_t fields;
    GateNumbers numbers;
};

TEST(AddressConversion, ScansTheFirstNineCharactersAsDecimalFields) {
    const std::vector<Conversion> cases = {
        {"01_101_03", 3, {1, 101, 3}},
        {"99_104_00", 3, {99, 104, 0}},
        {"10_101_05", 3, {10, 101, 5}},
        {"07_101_12", 3, {7, 101, 12}},
        {"01_101_0345", 3, {1, 101, 3}},  // what follows the 9th character is ignored
        {"01_101_5", 3, {1, 101, 5}},
        // Letters stop the scan: nothing, or the first digit alone.
        {"FF_101_05", 0, {0, 0, 0}},
        {"A0_104_99", 0, {0, 0, 0}},
        {"0A_101_05", 1, {0, 0, 0}},
        {"1A_101_05", 1, {1, 0, 0}},
        {"", 0, {0, 0, 0}},
        // The scan's own leniency: blanks before a field, signs.
        {" 1_101_05", 3, {1, 101, 5}},
        {"+1_101_05", 3, {1, 101, 5}},
    };
    for (const Conversion& c : cases) {
        SCOPED_TRACE(c.text);
        GateNumbers numbers{77, 77, 77};
        EXPECT_EQ(ConvertAddress(c.text, &numbers), c.fields);
        EXPECT_EQ(numbers.slave, c.numbers.slave);
        EXPECT_EQ(numbers.function, c.numbers.function);
        EXPECT_EQ(numbers.equipment, c.numbers.equipment);
    }
}

TEST(AddressConversion, StopsAtTheNul) {
    GuardedText guarded;
    GateNumbers numbers{};
    EXPECT_EQ(ConvertAddress(guarded.Place(std::string("01_1\0", 5)), &numbers), 2u);
    EXPECT_EQ(numbers.function, 1u);
    EXPECT_FALSE(IsDecimalAddress(guarded.Place(std::string("01_10\0", 6))));
    EXPECT_TRUE(IsDecimalAddress(guarded.Place(std::string("01_101_05\0", 10))));
}

TEST(AddressConversion, OnlyDecimalShapesConvert) {
    for (const char* text : {"01_101_03", "00_000_00", "99_999_99", "01_101_05X"}) {
        EXPECT_TRUE(IsDecimalAddress(text)) << text;
    }
    for (const char* text : {"0A_101_05", "FF_101_05", " 1_101_05", "+1_101_05", "01_101_5",
                             "01-101_05", "01_1O1_05", "01_101_-5", ""}) {
        EXPECT_FALSE(IsDecimalAddress(text)) << text;
    }
}

}  // namespace
