#include "bench/card_floor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bench/sample_sale.h"
#include "common/hex_text.h"
#include "common/tests/support/test_folders.h"

namespace kasse::bench {
namespace {

using ::testing::HasSubstr;

TEST(CardFloor, CardSignsTheSampleSaleWithRisingNumbers) {
  const std::filesystem::path folder = testing::FreshFolder("rising");
  const Result<Bytes> command = SampleTransactionCommand(folder);
  ASSERT_TRUE(command);
  EXPECT_EQ(HexWritten(ByteSpan(*command).first(4)), "80 40 00 00");
  EXPECT_EQ((*command)[4], command->size() - 6);  // Lc, then Le

  sim::EngineOptions options;
  options.stateFile = folder / "card.state";
  options.issuerFolder = folder / "issuer";  // never the user's issuer
  EmbeddedTransport card(options);
  const auto send = [&](ByteSpan c) { return card.Transmit(c); };
  const FloorRun first = RunFloor(send, *command, 3);
  EXPECT_EQ(first.failure, "");
  EXPECT_EQ(first.signedCount, 3);
  EXPECT_EQ(first.lastNumber, first.firstNumber + 2);
  EXPECT_GT(first.Rate(), 0);
  // The card keeps counting where the state file left it.
  const FloorRun second = RunFloor(send, *command, 1);
  EXPECT_EQ(second.firstNumber, first.lastNumber + 1);
}

TEST(CardFloor, ReportsACardThatDoesNotSignInsteadOfARate) {
  const std::filesystem::path folder = testing::FreshFolder("refusing");
  const Result<Bytes> command = SampleTransactionCommand(folder);
  ASSERT_TRUE(command);

  // Not activated: every TRANSACTION ends in 69 85.
  sim::EngineOptions options;
  options.startLifecycle = sim::Lifecycle::kPersonalised;
  EmbeddedTransport personalised(options);
  FloorRun run = RunFloor([&](ByteSpan c) { return personalised.Transmit(c); }, *command, 5);
  EXPECT_EQ(run.signedCount, 0);
  EXPECT_THAT(run.failure, HasSubstr("69 85"));
  EXPECT_EQ(run.Rate(), 0);

  // A reader that goes away after two signatures.
  EmbeddedTransport card(sim::EngineOptions{});
  int sent = 0;
  run = RunFloor(
      [&](ByteSpan c) -> Result<Bytes> {
        if (++sent > 3) return MakeError(ErrorKind::kCard, "reader gone");
        return card.Transmit(c);
      },
      *command, 5);
  EXPECT_EQ(run.signedCount, 2);
  EXPECT_THAT(run.failure, HasSubstr("TRANSACTION 3: reader gone"));

  // An answer replayed: a sequence number given twice is no signature of the floor.
  Bytes replayed;
  run = RunFloor(
      [&](ByteSpan c) -> Result<Bytes> {
        if (c.size() < 20) return card.Transmit(c);  // SELECT
        if (replayed.empty()) replayed = *card.Transmit(c);
        return replayed;
      },
      *command, 4);
  EXPECT_EQ(run.signedCount, 1);
  EXPECT_THAT(run.failure, HasSubstr("out of order"));

  // The application cannot be selected: nothing is sent at all.
  run = RunFloor([](ByteSpan) -> Result<Bytes> { return HexParse("6A 82"); }, *command, 5);
  EXPECT_THAT(run.failure, HasSubstr("SELECT"));
}

}  // namespace
}  // namespace kasse::bench
