#include "sim/log_frames.h"

#include <algorithm>

#include "common/sha.h"

namespace kasse::sim {
namespace {

constexpr std::size_t kLengthSize = 4;
constexpr std::size_t kChecksumSize = 8;
constexpr std::size_t kFrameV1 = kLengthSize + kChecksumSize;
constexpr std::size_t kFrameV2 = 2 * kLengthSize + kChecksumSize;

std::uint32_t ReadLength(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = kLengthSize; i-- > 0;)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string LengthBytes(std::uint32_t value) {
  std::string out(kLengthSize, '\0');
  for (std::size_t i = 0; i < kLengthSize; ++i)
    out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// The first 8 bytes of SHA-256 over the length bytes and the payload.
std::string Checksum(std::uint32_t length, std::string_view payload) {
  std::string covered = LengthBytes(length);
  covered.append(payload);
  const Sha256Digest digest =
      Sha256(ByteSpan(reinterpret_cast<const Byte*>(covered.data()), covered.size()));
  return std::string(reinterpret_cast<const char*>(digest.data()), kChecksumSize);
}

bool AllZero(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; });
}

enum class Verdict { kWhole, kTorn, kDamaged };

struct Frame {
  Verdict verdict = Verdict::kTorn;
  std::size_t size = 0;  // of the whole frame
  std::string what;      // for damage
};

Frame Damaged(std::string what) {
  return {Verdict::kDamaged, 0, std::move(what)};
}

// True when one flipped bit of `length` gives a whole record at `at` (format 1): a length
// damaged so that it runs past the end, not a record cut short.
bool FlippedLengthFits(std::string_view rest, std::uint32_t length) {
  for (int bit = 0; bit < 32; ++bit) {
    const std::uint32_t candidate = length ^ (std::uint32_t{1} << bit);
    if (candidate == 0 || candidate > kMaxRecordPayload || rest.size() - kFrameV1 < candidate) {
      continue;
    }
    if (Checksum(candidate, rest.substr(kFrameV1, candidate)) == rest.substr(kLengthSize, 8))
      return true;
  }
  return false;
}

Frame ReadFrameV1(std::string_view rest) {
  if (rest.size() < kFrameV1) return {};
  const std::uint32_t length = ReadLength(rest, 0);
  if (length > kMaxRecordPayload || rest.size() - kFrameV1 < length) {
    if (FlippedLengthFits(rest, length)) return Damaged("the record's length is damaged");
    return {};
  }
  if (Checksum(length, rest.substr(kFrameV1, length)) != rest.substr(kLengthSize, kChecksumSize))
    return Damaged("the record fails its checksum");
  return {Verdict::kWhole, kFrameV1 + length, {}};
}

Frame ReadFrameV2(std::string_view rest) {
  if (rest.size() < 2 * kLengthSize) return {};
  const std::uint32_t length = ReadLength(rest, 0);
  if (ReadLength(rest, kLengthSize) != ~length) {
    return Damaged("the record's length is damaged (it disagrees with its complement)");
  }
  if (length == 0 || length > kMaxRecordPayload) {
    return Damaged("the record's length " + std::to_string(length) + " is out of range");
  }
  if (rest.size() < kFrameV2 || rest.size() - kFrameV2 < length) return {};
  if (Checksum(length, rest.substr(kFrameV2, length)) !=
      rest.substr(2 * kLengthSize, kChecksumSize)) {
    return Damaged("the record fails its checksum");
  }
  return {Verdict::kWhole, kFrameV2 + length, {}};
}

std::string_view PayloadOf(std::string_view frame, int format) {
  return frame.substr(format == 1 ? kFrameV1 : kFrameV2);
}

}  // namespace

LogContents ReadLog(std::string_view bytes) {
  LogContents log;
  const std::size_t headerSize = kLogHeader.size();
  if (bytes.size() < headerSize) {
    // A header cut short is a torn creation; anything else was never a header.
    const bool prefix = kLogHeader.substr(0, bytes.size()) == bytes ||
                        kLogHeaderV1.substr(0, bytes.size()) == bytes;
    if (!prefix) log.damage = LogDamage{0, "the file does not start with a log header"};
    return log;
  }
  const std::string_view header = bytes.substr(0, headerSize);
  if (header != kLogHeader && header != kLogHeaderV1) {
    log.damage = LogDamage{0, "the file does not start with a log header"};
    return log;
  }
  log.hasHeader = true;
  log.format = header == kLogHeader ? 2 : 1;
  std::size_t at = headerSize;
  while (at < bytes.size()) {
    const std::string_view rest = bytes.substr(at);
    const Frame frame = log.format == 1 ? ReadFrameV1(rest) : ReadFrameV2(rest);
    // Zeros to the end are an append the file system extended the file for but never wrote.
    if (frame.verdict == Verdict::kDamaged && !AllZero(rest))
      log.damage = LogDamage{at, frame.what};
    if (frame.verdict != Verdict::kWhole) break;
    log.records.push_back({at, std::string(PayloadOf(rest.substr(0, frame.size), log.format))});
    at += frame.size;
  }
  log.goodSize = at;
  return log;
}

std::string FrameRecord(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame = LengthBytes(length);
  frame.append(LengthBytes(~length));
  frame.append(Checksum(length, payload));
  frame.append(payload);
  return frame;
}

std::string FrameRecordV1(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string frame = LengthBytes(length);
  frame.append(Checksum(length, payload));
  frame.append(payload);
  return frame;
}

}  // namespace kasse::sim
