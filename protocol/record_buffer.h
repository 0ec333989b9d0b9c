#pragma once
// CommandBuffer and VerifyBuffer: 256 bytes each with an 8-bit write index, holding a 5-byte
// ISO/IEC 7816-4 header (CLA INS P1 P2 Lc), at most 250 data bytes and room for the Le byte.
// A write that would pass the 250 data bytes is refused and remembered, so no record can run
// past the buffer; the builder checks Overflowed() before anything is sent or journalled.

#include <array>
#include <cstdint>

#include "common/bytes.h"
#include "common/card_commands.h"

namespace kasse {

class RecordBuffer {
 public:
  static constexpr std::size_t kSize = 256;
  static constexpr std::size_t kHeaderSize = 5;
  static constexpr std::size_t kMaxData = 250;

  // The header, the rest zero, write index 5.
  void Begin(CommandHeader header);
  // Overwrites CLA INS P1 P2 (a report's kind, known once its record is built).
  void SetHeader(CommandHeader header);
  // False (and nothing written) when the byte would pass the data limit.
  bool Put(Byte byte);
  bool Put(ByteSpan bytes);
  // Overwrites an already written byte (a reserved length); ignored outside the written part.
  void Set(std::size_t index, Byte byte);
  // Lc = write index - 5.
  void FinishRecord();

  std::uint8_t Length() const { return length_; }
  bool Overflowed() const { return overflowed_; }
  // Header and data as far as written (the Le byte 00 is not part of it).
  ByteSpan View() const { return ByteSpan(bytes_.data(), length_); }
  const std::array<Byte, kSize>& Raw() const { return bytes_; }

 private:
  std::array<Byte, kSize> bytes_{};
  std::uint8_t length_ = kHeaderSize;
  bool overflowed_ = false;
};

}  // namespace kasse
