#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/records.h"
#include "host/vpi_info.h"
#include "host/vpi_main.h"
#include "testing/trace_recorder.h"

namespace {

constexpr std::uint32_t kMarkerWord = 0xDEADBEEFu;

VpiInfo MarkedInfo() {
    VpiInfo info;
    std::memset(&info, 0xEF, sizeof info);
    info.word5 = kMarkerWord;
    info.word6 = kMarkerWord;
    return info;
}

class GetVpiInfoTest : public ::testing::Test {
  protected:
    void SetUp() override { vpiEnded = 0; }
    TraceRecorder trace;
};

TEST_F(GetVpiInfoTest, FillsWordsAndKeepsFiveAndSix) {
    VpiInfo info = MarkedInfo();
    ComChannel channel;
    std::memset(&channel, 0x5A, sizeof channel);
    const ComChannel before = channel;
    VpiRequest request{&channel, function_code::kGetVpiInfo, 0, 0, &info};

    EXPECT_EQ(VpiMain(&request), kResultDone);

    EXPECT_EQ(info.word0, 70u);
    EXPECT_EQ(info.shortName, kVpiShortName);
    EXPECT_EQ(info.banner, kVpiBanner);
    EXPECT_EQ(info.word3, 47u);
    EXPECT_EQ(info.word4, 4u);
    EXPECT_EQ(info.word5, kMarkerWord);
    EXPECT_EQ(info.word6, kMarkerWord);
    EXPECT_EQ(info.word7, 3u);
    EXPECT_EQ(trace.Lines(), std::vector<TraceLine>{Trace("RUVAZI> GetVpiInfo() exited")});
    EXPECT_EQ(std::memcmp(&channel, &before, sizeof channel), 0);
}

TEST_F(GetVpiInfoTest, NeedsNoChannel) {
    VpiInfo info = MarkedInfo();
    VpiRequest request{nullptr, function_code::kGetVpiInfo, 0, 0, &info};
    EXPECT_EQ(VpiMain(&request), kResultDone);
    EXPECT_EQ(info.word0, 70u);
}

TEST_F(GetVpiInfoTest, ShortNameIsLatin1WithEAcuteAtIndexThree) {
    const std::string name(kVpiShortName);
    ASSERT_EQ(name.size(), 18u);
    EXPECT_EQ(static_cast<unsigned char>(name[3]), 0xE9u);
    EXPECT_EQ(name.substr(0, 3), "Zad");
    EXPECT_EQ(name.substr(4), "z Udivud EVUVA");
}

TEST_F(GetVpiInfoTest, BannerIsThreeLinesOfFortyTwo) {
    const std::string banner(kVpiBanner);
    ASSERT_EQ(banner.size(), 134u);
    const std::string rule = std::string(32, '-') + std::string(10, ' ');
    const std::string title = std::string(7, ' ') + "Radiv Azevur ERAVU." + std::string(16, ' ');
    ASSERT_EQ(rule.size(), 42u);
    ASSERT_EQ(title.size(), 42u);
    EXPECT_EQ(banner, "\r\n" + rule + "\r\n" + title + "\r\n" + rule + "\r\n");
}

TEST_F(GetVpiInfoTest, NullRecordIsRefusedAndLogged) {
    VpiRequest request{nullptr, function_code::kGetVpiInfo, 0, 0, nullptr};
    EXPECT_EQ(VpiMain(&request), kResultRefused);
    EXPECT_EQ(trace.Lines(),
              std::vector<TraceLine>{Trace("RUVAZI> GetVpiInfo() called without its record")});
}

}  // namespace
