#include "sim/embedded_reader.h"

#include <gtest/gtest.h>

#include <future>

#include "common/hex_text.h"

namespace kasse::sim {
namespace {

using namespace std::chrono_literals;

const Bytes kSelect = HexParse("00 A4 04 00 08 D2 76 00 01 48 51 4F 52");

TEST(EmbeddedReader, TransmitsOnlyWithACardPresent) {
  EmbeddedReader reader{EngineOptions{}};
  EXPECT_TRUE(reader.CardPresent());
  EXPECT_FALSE(reader.Atr().empty());
  const auto answer = reader.Transmit(kSelect);
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, HexParse("90 00"));
  reader.RemoveCard();
  EXPECT_FALSE(reader.CardPresent());
  EXPECT_TRUE(reader.Atr().empty());
  const auto none = reader.Transmit(kSelect);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().kind, ErrorKind::kCard);
}

TEST(EmbeddedReader, ReinsertedCardHasForgottenItsSelection) {
  EmbeddedReader reader{EngineOptions{}};
  ASSERT_TRUE(reader.Transmit(kSelect));
  reader.RemoveCard();
  reader.InsertCard();
  const auto answer = reader.Transmit(HexParse("00 CA 01 F1 00"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, HexParse("69 85"));
  ASSERT_TRUE(reader.Transmit(kSelect));
  const auto counter = reader.ChangeCounter();
  reader.ResetCard();
  EXPECT_EQ(reader.ChangeCounter(), counter);
  EXPECT_EQ(*reader.Transmit(HexParse("00 CA 01 F1 00")), HexParse("69 85"));
}

TEST(EmbeddedReader, CounterGrowsOnlyWhenPresenceChanges) {
  EmbeddedReader reader{EngineOptions{}};
  const auto start = reader.ChangeCounter();
  reader.InsertCard();  // already present
  EXPECT_EQ(reader.ChangeCounter(), start);
  reader.RemoveCard();
  reader.RemoveCard();
  EXPECT_EQ(reader.ChangeCounter(), start + 1);
}

TEST(EmbeddedReader, WaitWakesOnChangeTimeoutAndCancel) {
  EmbeddedReader reader{EngineOptions{}};
  const auto seen = reader.ChangeCounter();
  EXPECT_EQ(reader.WaitForChange(seen, 20ms), seen);  // timeout

  auto removed = std::async(std::launch::async, [&] { return reader.WaitForChange(seen, 10s); });
  std::this_thread::sleep_for(20ms);
  reader.RemoveCard();
  ASSERT_EQ(removed.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(removed.get(), seen + 1);

  // A change before the wait began is seen at once.
  EXPECT_EQ(reader.WaitForChange(seen, 10s), seen + 1);

  auto cancelled =
      std::async(std::launch::async, [&] { return reader.WaitForChange(seen + 1, 10s); });
  std::this_thread::sleep_for(20ms);
  const auto begin = std::chrono::steady_clock::now();
  reader.Cancel();
  ASSERT_EQ(cancelled.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(cancelled.get(), seen + 1);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
}

TEST(EmbeddedReader, ServesSeveralThreadsAtOnce) {
  EmbeddedReader reader{EngineOptions{}};
  std::vector<std::future<int>> workers;
  for (int t = 0; t < 4; ++t) {
    workers.push_back(std::async(std::launch::async, [&] {
      int ok = 0;
      for (int i = 0; i < 50; ++i) {
        const auto answer = reader.Transmit(kSelect);
        ok += answer && *answer == HexParse("90 00");
      }
      return ok;
    }));
  }
  for (int i = 0; i < 20; ++i) {
    reader.RemoveCard();
    reader.InsertCard();
  }
  int total = 0;
  for (auto& worker : workers)
    total += worker.get();
  EXPECT_GT(total, 0);
}

}  // namespace
}  // namespace kasse::sim
