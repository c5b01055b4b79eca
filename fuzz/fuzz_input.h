// Reads a fuzzer's bytes as a stream of small fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        std::vector<std::uint8_t> out;
        while (count-- > 0 && !Empty()) {
            out.push_back(Byte());
        }
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
