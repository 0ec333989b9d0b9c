#include <gtest/gtest.h>

#include "common/hex_text.h"
#include "common/tlv_reader.h"

namespace kasse {
namespace {

TEST(TlvReader, ReadsElementsWithTheirOffsetsAndStopsAtTheEnd) {
  const Bytes data = HexParse("C4 02 41 42 C9 00 CB 01 07");
  TlvReader reader(data);
  auto first = reader.Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->tag, 0xC4);
  EXPECT_EQ(ToText(first->value), "AB");
  EXPECT_EQ(first->offset, 0u);
  EXPECT_EQ(first->End(), 4u);
  EXPECT_EQ(reader.PeekTag(), Byte{0xC9});
  auto flag = reader.Next();
  ASSERT_TRUE(flag);
  EXPECT_TRUE(flag->value.empty());
  EXPECT_EQ(flag->offset, 4u);
  ASSERT_TRUE(reader.Next());
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.PeekTag());
  EXPECT_EQ(reader.Offset(), data.size());

  auto all = ReadTlvElements(data);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ((*all)[2].offset, 6u);
}

TEST(TlvReader, EmptyInputHasNoElementsAndNothingToRead) {
  auto all = ReadTlvElements({});
  ASSERT_TRUE(all);
  EXPECT_TRUE(all->empty());
  TlvReader reader({});
  EXPECT_TRUE(reader.AtEnd());
  auto next = reader.Next();
  ASSERT_FALSE(next);
  EXPECT_EQ(next.error().offset, 0u);
  EXPECT_EQ(reader.Fault(), TlvFault::kHeaderCut);
}

// The failing offset is the tag of the element that cannot be read, and the reader stays there.
TEST(TlvReader, ReportsTheFailingElementAndStaysOnIt) {
  struct {
    const char* hex;
    std::size_t offset;
    TlvFault fault;
  } cases[] = {
      {"C4", 0, TlvFault::kHeaderCut},           // a tag without its length
      {"C4 01 41 CB", 3, TlvFault::kHeaderCut},  // the same after a whole element
      {"C4 05 41 42", 0, TlvFault::kValueCut},   // the length runs past the end
      {"C4 01 41 CB 04 00 00 01", 3, TlvFault::kValueCut},
      {"C4 00 9E FF", 2, TlvFault::kValueCut},  // the longest length, nothing behind
  };
  for (const auto& c : cases) {
    const Bytes data = HexParse(c.hex);
    auto all = ReadTlvElements(data);
    ASSERT_FALSE(all) << c.hex;
    EXPECT_EQ(all.error().kind, ErrorKind::kMalformed) << c.hex;
    EXPECT_EQ(all.error().offset, c.offset) << c.hex;

    TlvReader reader(data);
    while (reader.Next()) {
    }
    EXPECT_EQ(reader.Fault(), c.fault) << c.hex;
    EXPECT_EQ(reader.Offset(), c.offset) << c.hex;
    auto again = reader.Next();
    ASSERT_FALSE(again) << c.hex;
    EXPECT_EQ(again.error().offset, c.offset) << c.hex;
  }
}

TEST(TlvReader, NestedElementsCountTheirOffsetsFromTheOutside) {
  // A date, then VAT container 1 whose rate runs past the container's end.
  const Bytes data = HexParse("CD 01 00 E1 07 D8 02 11 9C DB 03 19");
  TlvReader outer(data);
  ASSERT_TRUE(outer.Next());
  auto container = outer.Next();
  ASSERT_TRUE(container);
  EXPECT_EQ(container->offset, 3u);
  TlvReader inner = TlvReader::Inside(*container);
  auto turnover = inner.Next();
  ASSERT_TRUE(turnover);
  EXPECT_EQ(turnover->offset, 5u);
  EXPECT_EQ(HexWritten(turnover->value), "11 9C");
  auto rate = inner.Next();
  ASSERT_FALSE(rate);
  EXPECT_EQ(rate.error().offset, 9u);
  EXPECT_EQ(inner.Fault(), TlvFault::kValueCut);
  EXPECT_TRUE(outer.AtEnd());  // the inner fault is the container's business only
}

TEST(TlvReader, FixedLengthAndTakeRestReadWhatTheirFormatsAllow) {
  // A fixed-size field ignores its length byte but never the end of the data.
  const Bytes signature = HexParse("9E 00 01 02 03");
  TlvReader fixed(signature);
  auto taken = fixed.NextFixed(3);
  ASSERT_TRUE(taken);
  EXPECT_EQ(HexWritten(taken->value), "01 02 03");
  EXPECT_TRUE(fixed.AtEnd());
  TlvReader tooShort(signature);
  ASSERT_FALSE(tooShort.NextFixed(4));
  EXPECT_EQ(tooShort.Fault(), TlvFault::kValueCut);

  // Taking the rest cuts an overrunning value at the end; a lone tag is still no element.
  const Bytes cut = HexParse("D8 05 01 2C");
  TlvReader rest(cut, 0, TlvOverrun::kTakeRest);
  auto amount = rest.Next();
  ASSERT_TRUE(amount);
  EXPECT_EQ(HexWritten(amount->value), "01 2C");
  EXPECT_TRUE(rest.AtEnd());
  const Bytes lone = HexParse("D8");
  TlvReader loneRest(lone, 0, TlvOverrun::kTakeRest);
  ASSERT_FALSE(loneRest.Next());
  EXPECT_EQ(loneRest.Fault(), TlvFault::kHeaderCut);
}

}  // namespace
}  // namespace kasse
