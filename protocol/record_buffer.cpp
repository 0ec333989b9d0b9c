#include "protocol/record_buffer.h"

namespace kasse {

void RecordBuffer::Begin(Byte cla, Byte ins) {
  bytes_.fill(0);
  bytes_[0] = cla;
  bytes_[1] = ins;
  length_ = kHeaderSize;
  overflowed_ = false;
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
