#include "register/special_position.h"

#include <gtest/gtest.h>

namespace kasse {
namespace {

TEST(SpecialPosition, QuantityReadsCommaAndFirstPoint) {
  EXPECT_DOUBLE_EQ(*ParseQuantity("2,5"), 2.5);
  EXPECT_DOUBLE_EQ(*ParseQuantity("2.5"), 2.5);
  EXPECT_DOUBLE_EQ(*ParseQuantity("-1"), -1);
  EXPECT_DOUBLE_EQ(*ParseQuantity("3"), 3);
  for (const char* bad :
       {"", "-", ",", "2,5,1", "2.5.1", "1.5,2", "abc", "1e3", "inf", "nan", " 2", "2 "})
    EXPECT_FALSE(ParseQuantity(bad)) << bad;
}

TEST(SpecialPosition, FieldsBecomeAPosition) {
  SpecialPositionFields fields;
  fields.name = "Kaffee";
  fields.unit = "kg";
  fields.quantity = "0.5";
  fields.prices = {"1200", "", "", "", "", "-30"};
  fields.agency = true;
  fields.voucher = true;
  const Result<BookingPosition> position = MakeSpecialPosition(fields);
  ASSERT_TRUE(position);
  EXPECT_EQ(position->name, "Kaffee");
  EXPECT_DOUBLE_EQ(position->qnt, 0.5);
  EXPECT_EQ(position->price[0], 1200);
  EXPECT_EQ(position->price[1], 0);
  EXPECT_EQ(position->price[5], -30);
  EXPECT_TRUE(position->thirdparty && position->voucher);
  EXPECT_FALSE(position->deliverynote || position->discountSurcharge);
}

TEST(SpecialPosition, FieldsThatAreNoNumberAreRefused) {
  SpecialPositionFields fields;
  fields.quantity = "1";
  fields.prices[2] = "1,50";
  EXPECT_NE(MakeSpecialPosition(fields).error().English().find("Price 3"), std::string::npos);
  fields.prices[2] = "3000000000";
  EXPECT_FALSE(MakeSpecialPosition(fields));
  fields.prices[2] = "";
  fields.quantity = "eins";
  EXPECT_FALSE(MakeSpecialPosition(fields));
}

}  // namespace
}  // namespace kasse
