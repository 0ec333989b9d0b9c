#pragma once
// Cutting one fuzz input into the several inputs a decoder takes. Every cut is bounded by the
// input, so a target never reads past what the fuzzer gave it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/bytes.h"

namespace kasse::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  // One byte, or 0 when the input is used up.
  Byte TakeByte() {
    if (rest_.empty()) return 0;
    const Byte value = rest_.front();
    rest_ = rest_.subspan(1);
    return value;
  }

  // A frame as the vpcd driver sends it: 2-byte big-endian length, then the bytes; a length
  // beyond the end gives what is left.
  std::optional<ByteSpan> TakeFrame() {
    if (rest_.size() < 2) return std::nullopt;
    const std::size_t length = static_cast<std::size_t>(rest_[0]) << 8 | rest_[1];
    rest_ = rest_.subspan(2);
    return TakeBytes(length);
  }

  ByteSpan TakeBytes(std::size_t count) {
    const std::size_t taken = count < rest_.size() ? count : rest_.size();
    const ByteSpan part = rest_.first(taken);
    rest_ = rest_.subspan(taken);
    return part;
  }

  // Up to the next NUL byte (dropped), or everything left.
  std::string_view TakeText() {
    std::size_t end = 0;
    while (end < rest_.size() && rest_[end] != 0)
      ++end;
    const std::string_view text(reinterpret_cast<const char*>(rest_.data()), end);
    rest_ = rest_.subspan(end < rest_.size() ? end + 1 : end);
    return text;
  }

  ByteSpan Rest() const { return rest_; }
  std::string_view RestText() const {
    return std::string_view(reinterpret_cast<const char*>(rest_.data()), rest_.size());
  }
  bool Empty() const { return rest_.empty(); }

 private:
  ByteSpan rest_;
};

// A finding the decoder's own result contradicts: abort so that the fuzzer keeps the input.
[[noreturn]] void Violated(const char* property);

}  // namespace kasse::fuzz
