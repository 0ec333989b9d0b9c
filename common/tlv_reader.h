#pragma once
// Tag-length-value elements as the card and the register write them: a one-byte tag, a
// one-byte length, then that many value bytes. Every walk over such bytes goes through this
// reader: it moves forward only, never reads past its data, and a failure names the offset of
// the element that could not be read.

#include <cstddef>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"

namespace kasse {

struct TlvElement {
  Byte tag = 0;
  ByteSpan value;
  std::size_t offset = 0;  // of the tag, counted from the start of the outermost data

  // The offset behind the element.
  std::size_t End() const { return offset + 2 + value.size(); }
};

// Why an element could not be read.
enum class TlvFault {
  kNone,
  kHeaderCut,  // the data end before the element's length byte
  kValueCut,   // the length byte promises more bytes than are left
};

// What a value running past the end is: a fault (every decoder of card answers and receipts),
// or the bytes that are there (tallies over journalled requests, which count what they can).
enum class TlvOverrun { kFault, kTakeRest };

class TlvReader {
 public:
  // `base` is where `data` starts in an enclosing buffer, so that offsets of nested elements
  // count from the outer start.
  explicit TlvReader(ByteSpan data, std::size_t base = 0, TlvOverrun overrun = TlvOverrun::kFault)
      : data_(data), base_(base), overrun_(overrun) {}

  // A reader over the value of an element read before, offsets still counted from the outside.
  static TlvReader Inside(const TlvElement& element, TlvOverrun overrun = TlvOverrun::kFault) {
    return TlvReader(element.value, element.offset + 2, overrun);
  }

  bool AtEnd() const { return position_ >= data_.size(); }
  // The tag at the position; nothing at the end.
  std::optional<Byte> PeekTag() const;
  // The position as an offset from the outer start.
  std::size_t Offset() const { return base_ + position_; }

  // The element at the position; the position moves behind it. On failure the position stays,
  // the error (kMalformed) carries the element's offset and Fault() says what was wrong.
  Result<TlvElement> Next();
  // The element at the position with a value of `length` bytes, whatever its length byte
  // says: for fields whose size the format fixes and whose length byte is not trusted.
  Result<TlvElement> NextFixed(std::size_t length);

  TlvFault Fault() const { return fault_; }

 private:
  Result<TlvElement> Take(std::size_t length);
  Error Fail(TlvFault fault);

  ByteSpan data_;
  std::size_t base_ = 0;
  TlvOverrun overrun_ = TlvOverrun::kFault;
  std::size_t position_ = 0;
  TlvFault fault_ = TlvFault::kNone;
};

// Every element of `data` in order; the first element that cannot be read is the error.
Result<std::vector<TlvElement>> ReadTlvElements(ByteSpan data, std::size_t base = 0);

}  // namespace kasse
