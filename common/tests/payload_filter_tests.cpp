#include "common/payload_filter.h"

#include <gtest/gtest.h>

#include "common/hex_text.h"

namespace kasse {
namespace {

std::string Filtered(const char* hex) {
  Bytes data = HexParse(hex);
  FilterPayload(data);
  return HexWritten(data);
}

TEST(PayloadFilter, DropsCurrencyAndNegativeTurnoverAndVat) {
  // E1 with D8, D9 and DB: D9 goes and the container shrinks by its four bytes.
  EXPECT_EQ(Filtered("E1 0B D8 01 0C D9 02 50 0C DB 02 19 00"), "E1 07 D8 01 0C DB 02 19 00");
  EXPECT_EQ(Filtered("CD 04 20 26 05 12 C8 02 03 D2 CE 02 09 30"), "CD 04 20 26 05 12 CE 02 09 30");
  // The example record: C8 and DA go, E1 shrinks from 0C to 08.
  EXPECT_EQ(Filtered("C8 02 03 D2 E1 0C D8 02 11 9C DA 02 01 9C DB 02 19 00"),
            "E1 08 D8 02 11 9C DB 02 19 00");
}

TEST(PayloadFilter, DropsAgencyAndDeliveryContainersWhole) {
  EXPECT_EQ(Filtered("E1 04 D8 02 50 0C E7 04 D8 02 50 0C E8 04 D8 02 11 9C CB 04 00 00 00 07"),
            "E1 04 D8 02 50 0C CB 04 00 00 00 07");
}

TEST(PayloadFilter, SkipsValuesThatLookLikeTags) {
  // Hash and signature bytes that equal removable tags stay untouched.
  EXPECT_EQ(Filtered("C7 04 C8 02 D9 00 9A 03 C8 01 00 9E 02 E7 00"),
            "C7 04 C8 02 D9 00 9A 03 C8 01 00 9E 02 E7 00");
}

TEST(PayloadFilter, CorrectionAccumulatesInTheLastContainer) {
  EXPECT_EQ(Filtered("E1 0A D8 01 0C D9 01 1C DA 01 0C E2 05 D8 01 0C DA 00"),
            "E1 04 D8 01 0C E2 03 D8 01 0C");
}

TEST(PayloadFilter, TruncatedInputNeverRunsPastTheEnd) {
  EXPECT_EQ(Filtered("C8 09 03"), "");
  EXPECT_EQ(Filtered("E1 02 D9 7F 00"), "E1 00");
  EXPECT_EQ(Filtered("C7 FF 01 02"), "C7 FF 01 02");
  EXPECT_EQ(Filtered("E1"), "E1");
  EXPECT_EQ(Filtered("DA"), "");
  EXPECT_EQ(Filtered(""), "");
}

}  // namespace
}  // namespace kasse
