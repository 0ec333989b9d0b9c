#include "common/tlv_reader.h"

namespace kasse {

std::optional<Byte> TlvReader::PeekTag() const {
  if (AtEnd()) return std::nullopt;
  return data_[position_];
}

Error TlvReader::Fail(TlvFault fault) {
  fault_ = fault;
  return MakeError(ErrorKind::kMalformed,
                   fault == TlvFault::kHeaderCut ? "element ends before its length byte"
                                                 : "element runs past the end",
                   Offset());
}

Result<TlvElement> TlvReader::Take(std::size_t length) {
  // Compared as remaining sizes, so that no sum can wrap.
  const std::size_t left = data_.size() - position_ - 2;
  if (length > left) {
    if (overrun_ == TlvOverrun::kFault) return Fail(TlvFault::kValueCut);
    length = left;
  }
  TlvElement element{data_[position_], data_.subspan(position_ + 2, length), Offset()};
  position_ += 2 + length;
  fault_ = TlvFault::kNone;
  return element;
}

Result<TlvElement> TlvReader::Next() {
  if (position_ >= data_.size() || data_.size() - position_ < 2) return Fail(TlvFault::kHeaderCut);
  return Take(data_[position_ + 1]);
}

Result<TlvElement> TlvReader::NextFixed(std::size_t length) {
  if (position_ >= data_.size() || data_.size() - position_ < 2) return Fail(TlvFault::kHeaderCut);
  return Take(length);
}

Result<std::vector<TlvElement>> ReadTlvElements(ByteSpan data, std::size_t base) {
  std::vector<TlvElement> elements;
  for (TlvReader reader(data, base); !reader.AtEnd();) {
    auto element = reader.Next();
    if (!element) return element.error();
    elements.push_back(*element);
  }
  return elements;
}

}  // namespace kasse
