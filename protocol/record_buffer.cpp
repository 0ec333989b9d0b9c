#include "protocol/record_buffer.h"

namespace kasse {

void RecordBuffer::Begin(CommandHeader header) {
  bytes_.fill(0);
  length_ = kHeaderSize;
  overflowed_ = false;
  SetHeader(header);
}

void RecordBuffer::SetHeader(CommandHeader header) {
  bytes_[0] = header.cla;
  bytes_[1] = header.ins;
  bytes_[2] = header.p1;
  bytes_[3] = header.p2;
}

bool RecordBuffer::Put(Byte byte) {
  if (overflowed_ || length_ >= kHeaderSize + kMaxData) {
    overflowed_ = true;
    return false;
  }
  bytes_[length_++] = byte;
  return true;
}

bool RecordBuffer::Put(ByteSpan bytes) {
  for (const Byte byte : bytes) {
    if (!Put(byte)) return false;
  }
  return true;
}

void RecordBuffer::Set(std::size_t index, Byte byte) {
  if (index < length_) bytes_[index] = byte;
}

void RecordBuffer::FinishRecord() {
  bytes_[4] = static_cast<Byte>(length_ - kHeaderSize);
}

}  // namespace kasse
