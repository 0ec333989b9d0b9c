// The log reader: whole records, a torn last record, and damage told apart, in both formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/log_frames.h"

namespace kasse::sim {
namespace {

const std::vector<std::string> kPayloads = {"seq 1 0\ndaySeq 1 1\n", "seq 2 0\ndaySeq 1 2\n",
                                            "seq 3 0\ndaySeq 1 3\nmonth 202605\n"};

struct Built {
  std::string bytes;
  std::vector<std::size_t> starts;  // of each frame
};

Built BuildLog(int format) {
  Built log{std::string(format == 1 ? kLogHeaderV1 : kLogHeader), {}};
  for (const std::string& payload : kPayloads) {
    log.starts.push_back(log.bytes.size());
    log.bytes += format == 1 ? FrameRecordV1(payload) : FrameRecord(payload);
  }
  return log;
}

std::string Flipped(std::string bytes, std::size_t at, int bit) {
  bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
  return bytes;
}

class LogFormats : public ::testing::TestWithParam<int> {};

TEST_P(LogFormats, WholeRecordsAreReadWithTheirOffsets) {
  const Built log = BuildLog(GetParam());
  const LogContents read = ReadLog(log.bytes);
  EXPECT_TRUE(read.hasHeader);
  EXPECT_EQ(read.format, GetParam());
  EXPECT_FALSE(read.damage);
  EXPECT_EQ(read.goodSize, log.bytes.size());
  ASSERT_EQ(read.records.size(), kPayloads.size());
  for (std::size_t i = 0; i < kPayloads.size(); ++i) {
    EXPECT_EQ(read.records[i].payload, kPayloads[i]);
    EXPECT_EQ(read.records[i].offset, log.starts[i]);
  }
}

TEST_P(LogFormats, ALastRecordCutAtAnyByteIsTorn) {
  const Built log = BuildLog(GetParam());
  const std::size_t last = log.starts.back();
  for (std::size_t cut = last; cut < log.bytes.size(); ++cut) {
    const LogContents read = ReadLog(std::string_view(log.bytes).substr(0, cut));
    EXPECT_FALSE(read.damage) << "cut at " << cut << ": " << read.damage->what;
    EXPECT_EQ(read.records.size(), kPayloads.size() - 1) << cut;
    EXPECT_EQ(read.goodSize, last) << cut;
    EXPECT_EQ(read.Torn(cut), cut > last) << cut;
  }
  // A file system that extended the file without writing the record: zeros to the end.
  const LogContents zeros = ReadLog(log.bytes + std::string(40, '\0'));
  EXPECT_FALSE(zeros.damage);
  EXPECT_EQ(zeros.records.size(), kPayloads.size());
}

// The checksum compare itself: a byte of the payload changed in a middle record and in the
// last, complete one.
TEST_P(LogFormats, AChangedPayloadByteIsDamageWhereverItIs) {
  const Built log = BuildLog(GetParam());
  for (const std::size_t record : {std::size_t{1}, kPayloads.size() - 1}) {
    const std::size_t payload = log.starts[record] + (GetParam() == 1 ? 12 : 16);
    for (std::size_t at = payload; at < payload + kPayloads[record].size(); ++at) {
      const LogContents read = ReadLog(Flipped(log.bytes, at, 2));
      ASSERT_TRUE(read.damage) << "record " << record << ", byte " << at;
      EXPECT_EQ(read.damage->offset, log.starts[record]);
      EXPECT_EQ(read.damage->what, "the record fails its checksum");
      EXPECT_EQ(read.records.size(), record);
    }
  }
}

// Every bit of every frame header flipped, the length's included: never a torn record.
TEST_P(LogFormats, AFlippedBitInAFrameHeaderIsDamage) {
  const Built log = BuildLog(GetParam());
  const std::size_t headerSize = GetParam() == 1 ? 12 : 16;
  for (std::size_t record = 0; record < kPayloads.size(); ++record) {
    for (std::size_t at = log.starts[record]; at < log.starts[record] + headerSize; ++at) {
      for (int bit = 0; bit < 8; ++bit) {
        const LogContents read = ReadLog(Flipped(log.bytes, at, bit));
        ASSERT_TRUE(read.damage) << "record " << record << ", byte " << at << ", bit " << bit;
        EXPECT_EQ(read.damage->offset, log.starts[record]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CardLogFrames, LogFormats, ::testing::Values(1, 2),
                         [](const auto& param) { return "Format" + std::to_string(param.param); });

TEST(CardLogFrames, HeaderCutShortIsATornCreationAnyOtherIsDamage) {
  for (std::size_t cut = 0; cut < kLogHeader.size(); ++cut) {
    const LogContents read = ReadLog(kLogHeader.substr(0, cut));
    EXPECT_FALSE(read.hasHeader);
    EXPECT_FALSE(read.damage) << cut;
  }
  const LogContents garbage = ReadLog("qor-sim-log 7\n");
  ASSERT_TRUE(garbage.damage);
  EXPECT_EQ(garbage.damage->offset, 0u);
  EXPECT_TRUE(ReadLog("hello").damage);
}

TEST(CardLogFrames, ALengthPastTheLimitWithAValidComplementIsDamage) {
  std::string frame(4, '\0');
  const std::uint32_t length = kMaxRecordPayload + 1;
  for (std::size_t i = 0; i < 4; ++i)
    frame[i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  for (std::size_t i = 0; i < 4; ++i)
    frame += static_cast<char>((~length >> (8 * i)) & 0xFF);
  const LogContents read = ReadLog(std::string(kLogHeader) + frame + std::string(8, 'x'));
  ASSERT_TRUE(read.damage);
  EXPECT_EQ(read.damage->offset, kLogHeader.size());
}

}  // namespace
}  // namespace kasse::sim
