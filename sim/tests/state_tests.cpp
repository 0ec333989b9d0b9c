#include <gtest/gtest.h>

#include "sim/card_state.h"

namespace kasse::sim {
namespace {

CardState SampleBooks() {
  CardState state;
  state.lifecycle = 0x02;
  state.pinTriesLeft = 1;
  state.transactionSeq = 77;
  state.reportSeq = 5;
  state.firstMonth = 202601;
  state.dayFirstSeq = 70;
  state.dayLastSeq = 77;
  state.day.vat[2] = {123, 45, {0x07, 0x00}, true, true, false};
  state.day.agency = {500, 2, false};
  state.training = {900, 3, true};
  state.months[202603].vat[0] = {-5, 0, {0x19, 0x00}, true, false, true};
  state.months[202604];  // booked, but with nothing in its totals
  return state;
}

TEST(StateText, SnapshotRoundTripKeepsEveryFieldAndEmptyMonths) {
  const CardState state = SampleBooks();
  const auto parsed = ParseState(SerializeState(state));
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->oldFormatKeys);
  EXPECT_EQ(SerializeState(parsed->books), SerializeState(state));
  EXPECT_EQ(parsed->books.day.vat[2].turnoverNeg, 45);
  EXPECT_EQ(parsed->books.months.at(202603).vat[0].turnover, -5);
  EXPECT_EQ(parsed->books.months.count(202604), 1u);
}

TEST(StateText, OldFormatGivesItsKeysAndIsRefusedWithoutThem) {
  const std::string old =
      "qor-sim-state 1\nlifecycle 3\ntpId QOR-SIM\ntpIdNo 4\npin 123456 3\nseq 9 2\n"
      "firstMonth 202605\ndaySeq 1 9\nkey 0102\ncert 3003020100\ncaCert 3000\n"
      "vat day 1 100 0 1900 0 0\nvat 202605 1 100 0 1900 0 0\nend\n";
  const auto parsed = ParseState(old);
  ASSERT_TRUE(parsed) << parsed.error().English();
  ASSERT_TRUE(parsed->oldFormatKeys);
  EXPECT_EQ(parsed->oldFormatKeys->privateKey, (Bytes{1, 2}));
  EXPECT_EQ(parsed->oldFormatKeys->caCertificate, (Bytes{0x30, 0x00}));
  EXPECT_EQ(parsed->books.transactionSeq, 9u);
  EXPECT_EQ(parsed->books.months.at(202605).vat[0].turnover, 100);
  // Keys belong in files of their own now: a new snapshot holding one is damaged.
  std::string withKey = SerializeState(parsed->books);
  withKey.insert(withKey.find("end\n"), "key 0102\n");
  EXPECT_FALSE(ParseState(withKey));
  std::string noKey = old;
  noKey.erase(noKey.find("key 0102\n"), 9);
  EXPECT_FALSE(ParseState(noKey));
}

TEST(StateText, DamagedSnapshotsAreRefused) {
  const std::string text = SerializeState(SampleBooks());
  for (const std::string& damaged :
       {text.substr(0, text.size() / 2), std::string("garbage"), text + "seq 1 1\n",
        text.substr(0, text.size() - 4) + "seq x\nend\n"}) {
    EXPECT_FALSE(ParseState(damaged)) << damaged;
  }
}

TEST(ChangeRecord, ReplayGivesTheNewBooksAndRepeatingOldRecordsChangesNothing) {
  const CardState first = SampleBooks();
  CardState second = first;
  second.transactionSeq = 78;
  second.dayLastSeq = 78;
  second.training = {};
  second.months[202605].vat[1].used = true;
  second.months[202605].vat[1].turnover = 250;
  CardState third = second;
  third.transactionSeq = 79;
  third.months[202603].vat[0].turnover = 10;
  third.day = {};
  const std::string toSecond = SerializeChange(first, second);
  const std::string toThird = SerializeChange(second, third);
  // Only the months that changed travel.
  EXPECT_EQ(toThird.find("month 202605"), std::string::npos);
  EXPECT_NE(toThird.find("month 202603"), std::string::npos);

  CardState replayed = first;
  ASSERT_TRUE(ApplyChange(toSecond, replayed));
  ASSERT_TRUE(ApplyChange(toThird, replayed));
  EXPECT_EQ(SerializeState(replayed), SerializeState(third));
  // A snapshot written after both, with the log not yet emptied: replaying both again.
  ASSERT_TRUE(ApplyChange(toSecond, replayed));
  ASSERT_TRUE(ApplyChange(toThird, replayed));
  EXPECT_EQ(SerializeState(replayed), SerializeState(third));

  CardState untouched = first;
  EXPECT_FALSE(ApplyChange("seq 1\nvat day 9 1 0 - 0 0\n", untouched));
  EXPECT_EQ(SerializeState(untouched), SerializeState(first));
}

}  // namespace
}  // namespace kasse::sim
