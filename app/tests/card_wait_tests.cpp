#include "app/card_wait.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "card/tests/fake_pcsc.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
using testing::FakePcsc;

TEST(CardWait, ACardAlreadyInAReaderEndsTheWaitAtOnceWithoutAWord) {
  FakePcsc pcsc;
  pcsc.AddReader("Virtual PCD 00 00", {}, pcsc::kStateEmpty);
  pcsc.AddReader("Virtual PCD 00 01", {}, pcsc::kStatePresent);
  int said = 0;
  EXPECT_TRUE(WaitForCardInReader(pcsc, 10s, [&] { ++said; }));
  EXPECT_EQ(said, 0);
  EXPECT_EQ(pcsc.OpenContexts(), 0);
}

TEST(CardWait, ACardInsertedWhileWaitingEndsTheWait) {
  FakePcsc pcsc;
  pcsc.AddReader("Virtual PCD 00 00", {}, pcsc::kStateEmpty);
  std::promise<void> waiting;
  std::thread insert([&] {
    waiting.get_future().wait();
    pcsc.SetState(0, pcsc::kStatePresent);
  });
  int said = 0;
  // The limit is far beyond any test run: only the insertion can end this wait.
  const bool found = WaitForCardInReader(pcsc, 600s, [&] {
    if (++said == 1) waiting.set_value();
  });
  insert.join();
  EXPECT_TRUE(found);
  EXPECT_EQ(said, 1);
  EXPECT_EQ(pcsc.OpenContexts(), 0);
}

TEST(CardWait, NoUsableCardUntilTheLimitIsAFailureSaidOnce) {
  FakePcsc pcsc;
  // A card that does not answer its reset is no card for the register.
  pcsc.AddReader("Virtual PCD 00 00", {}, pcsc::kStatePresent | pcsc::kStateMute);
  pcsc.AddReader("Virtual PCD 00 01", {}, pcsc::kStateEmpty);
  int said = 0;
  EXPECT_FALSE(WaitForCardInReader(pcsc, 300ms, [&] { ++said; }));
  EXPECT_EQ(said, 1);
  EXPECT_EQ(pcsc.OpenContexts(), 0);
}

TEST(CardWait, AServiceWithoutReadersIsAskedAgainUntilTheLimit) {
  FakePcsc pcsc;  // no reader at all
  int said = 0;
  EXPECT_FALSE(WaitForCardInReader(pcsc, 250ms, [&] { ++said; }));
  EXPECT_EQ(said, 1);
}

}  // namespace
}  // namespace kasse
