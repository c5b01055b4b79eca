#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "serial/device_name.h"

namespace {

struct NameCase {
    const char* name;
    const char* opened;  // nullptr: the name itself, unchanged
};

class PrefixedComNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PrefixedComNameTest, PrefixesOnlyComTenAndAbove) {
    const NameCase& c = GetParam();
    char buffer[kPlatformNameCapacity];
    const char* result = PrefixedComName(c.name, buffer, sizeof buffer);
    if (c.opened == nullptr) {
        EXPECT_EQ(result, c.name) << c.name;
    } else {
        EXPECT_EQ(result, buffer) << c.name;
        EXPECT_STREQ(result, c.opened);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, PrefixedComNameTest,
    ::testing::Values(
        NameCase{"COM1", nullptr}, NameCase{"COM9", nullptr}, NameCase{"COM10", "\\\\.\\COM10"},
        NameCase{"COM12", "\\\\.\\COM12"}, NameCase{"COM256", "\\\\.\\COM256"},
        // Device names are case-insensitive on Windows.
        NameCase{"com12", "\\\\.\\com12"}, NameCase{"Com10", "\\\\.\\Com10"},
        // The device is COM10; a leading zero names no device.
        NameCase{"COM010", nullptr}, NameCase{"COM09", nullptr}, NameCase{"COM0", nullptr},
        NameCase{"COM1a", nullptr}, NameCase{"COM12a", nullptr}, NameCase{"COM12 ", nullptr},
        NameCase{"\\\\.\\COM12", nullptr}, NameCase{"COM", nullptr}, NameCase{"CO", nullptr},
        NameCase{"", nullptr}, NameCase{"XCOM12", nullptr}, NameCase{"NUL", nullptr}));

TEST(PrefixedComName, NameTooLongForTheBufferGoesUnchanged) {
    const std::string longName = "COM" + std::string(40, '7');
    char buffer[kPlatformNameCapacity];
    EXPECT_EQ(PrefixedComName(longName.c_str(), buffer, sizeof buffer), longName.c_str());

    // Exactly enough room: prefix, name and the terminating NUL.
    char tight[10] = {};
    EXPECT_EQ(PrefixedComName("COM12", tight, 10), tight);
    EXPECT_STREQ(tight, "\\\\.\\COM12");
    char small[9];
    std::fill(small, small + 9, 'x');
    const char* name = "COM12";
    EXPECT_EQ(PrefixedComName(name, small, 9), name);
    EXPECT_EQ(std::string(small, 9), std::string(9, 'x'));
}

TEST(PrefixedComName, NullNameOrBufferGivesTheNameBack) {
    char buffer[kPlatformNameCapacity];
    EXPECT_EQ(PrefixedComName(nullptr, buffer, sizeof buffer), nullptr);
    const char* name = "COM12";
    EXPECT_EQ(PrefixedComName(name, nullptr, 0), name);
}

}  // namespace
