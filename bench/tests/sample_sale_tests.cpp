#include "bench/sample_sale.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/base_n.h"
#include "common/hex_text.h"
#include "common/tests/support/test_folders.h"
#include "register/register.h"
#include "register/register_probe.h"
#include "register/tests/sim_card.h"

namespace kasse::bench {
namespace {

using testing::FreshHome;

SpecialPositionFields Position(const char* name, const char* unit, const char* quantity,
                               int container, const char* unitCents) {
  SpecialPositionFields fields{name, unit, quantity, {}, false, false, false, false};
  fields.prices[static_cast<std::size_t>(container - 1)] = unitCents;
  return fields;
}

// The floor is only a floor if the card signs exactly what the register would send.
TEST(SampleSale, CommandIsWhatTheRegisterSendsForTheSameSale) {
  RegisterOptions options;
  options.home = FreshHome("same");
  options.now = [] { return ToAppDateTime({2026, 5, 12, 9, 30, 12, 0}); };
  Register reg(options, testing::UserSimCard());
  ASSERT_TRUE(reg.Start());
  ASSERT_TRUE(reg.SetOperatorName(1, "Anna"));
  ASSERT_TRUE(reg.SelectOperator(1));
  for (const SpecialPositionFields& fields :
       {Position("Br\xF6tchen", "St\374ck", "2", 2, "45"),
        Position("Kaffee Crema", "", "1", 1, "320"),
        Position("\xC4pfel Boskop", "kg", "2", 2, "299"),
        Position("Wein rot", "Flasche", "1", 1, "1000"), Position("Zeitung", "", "3", 2, "250")})
    ASSERT_TRUE(reg.BookSpecial(fields));
  ASSERT_TRUE(reg.Summe());
  ASSERT_TRUE(reg.Kassieren());
  const Result<Bytes> sent = Base64Decode(RegisterProbe::Signing(reg).LastRequestBase64());
  ASSERT_TRUE(sent);

  const Result<Bytes> sample = SampleTransactionCommand(options.home / "sample");
  ASSERT_TRUE(sample);
  ASSERT_GT(sample->size(), 6u);
  const Bytes data(sample->begin() + 5, sample->end() - 1);
  EXPECT_EQ(HexWritten(data), HexWritten(*sent));
}

}  // namespace
}  // namespace kasse::bench
