// A fake COM1 and, when asked, a port opened on it through ComOpen.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/com.h"
#include "testing/fake_serial.h"

using Strings = std::vector<std::string>;

constexpr LineSettings kSettings{9600, 8, 0, 0};
constexpr std::uint32_t kUntouched = 0xA5A5A5A5u;

class ComPort : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        device = &fake::AddDevice("COM1");
    }

    // Opens COM1 with plain settings and forgets the calls of the open.
    void Open() {
        ASSERT_EQ(ComOpen("COM1", kSettings, line_control::kDtrRtsOn, &handle), 0u);
        calls = fake::Calls().size();
    }

    // The platform calls made since Open().
    Strings CallsSinceOpen() const {
        return Strings(fake::Calls().begin() + static_cast<std::ptrdiff_t>(calls),
                       fake::Calls().end());
    }

    fake::Device* device = nullptr;
    HANDLE handle = nullptr;
    std::size_t calls = 0;
};
