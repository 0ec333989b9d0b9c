#include <gtest/gtest.h>

#include <fstream>

#include "common/files.h"
#include "sim/card_state.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::kSelectApp;
using testing::ReportCommand;
using testing::Send;
using testing::TempState;
using testing::Transaction;
using testing::Vat;

std::uint32_t SeqOf(const testing::Reply& reply) {
  const auto elements = SplitElements(reply.data);
  return elements && elements->size() >= 3 ? ReadUint32((*elements)[2].value) : 0;
}

TEST(StateFile, CardKeepsKeysCountersAndTotalsAcrossRestarts) {
  TempState temp("restart");
  Bytes certificate;
  {
    QorEngine card(temp.Options());
    ASSERT_FALSE(card.StartError());
    certificate = card.CardCertificate();
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    EXPECT_EQ(SeqOf(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00"))))), 1u);
    // Written before the answer left the card.
    const auto kept = ParseState(ReadFile(temp.File()).value());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->transactionSeq, 1u);
    EXPECT_EQ(SeqOf(Send(card, Transaction(Vat(0xE1, 200, 0, HexParse("19 00"))))), 2u);
  }
  QorEngine card(temp.Options());
  EXPECT_EQ(card.CardCertificate(), certificate);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(SeqOf(Send(card, Transaction(Vat(0xE1, 400, 0, HexParse("19 00"))))), 3u);
  const auto report = Send(card, ReportCommand(0x02));
  const Bytes e1 = HexParse("E1 08 D8 02 70 0C DB 02 19 00");
  EXPECT_NE(std::search(report.data.begin(), report.data.end(), e1.begin(), e1.end()),
            report.data.end());
}

TEST(StateFile, RoundTripKeepsEveryField) {
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
  state.keys = {{1, 2}, {3, 4}, {}};
  const auto parsed = ParseState(SerializeState(state));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(SerializeState(*parsed), SerializeState(state));
  EXPECT_EQ(parsed->day.vat[2].turnoverNeg, 45);
  EXPECT_EQ(parsed->months.at(202603).vat[0].turnover, -5);
}

TEST(StateFile, DamagedFileIsNeverReplacedByAFreshCard) {
  TempState temp("damaged");
  {
    QorEngine card(temp.Options());
    ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
    ASSERT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00")))).sw, 0x9000);
  }
  std::string text = ReadFile(temp.File()).value();
  const std::string cut = text.substr(0, text.size() / 2);
  for (const std::string& damaged : {cut, std::string("garbage"), text + "seq x\n"}) {
    ASSERT_TRUE(WriteFileAtomic(temp.File(), damaged));
    QorEngine card(temp.Options());
    EXPECT_TRUE(card.StartError());
    EXPECT_EQ(Send(card, kSelectApp).sw, 0x6F00);
    EXPECT_EQ(ReadFile(temp.File()).value(), damaged);
  }
}

TEST(StateFile, FailedWriteGivesNoAnswerAndNoRepeatedNumber) {
  TempState temp("unwritable");
  const auto folder = temp.File().parent_path() / "sub";
  std::filesystem::create_directories(folder);
  EngineOptions options = temp.Options();
  options.stateFile = folder / "card.state";
  QorEngine card(options);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(SeqOf(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00"))))), 1u);
  std::filesystem::remove_all(folder);
  EXPECT_EQ(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00")))).sw, 0x6581);
  std::filesystem::create_directories(folder);
  EXPECT_GT(SeqOf(Send(card, Transaction(Vat(0xE1, 100, 0, HexParse("19 00"))))), 1u);
}

}  // namespace
}  // namespace kasse::sim
