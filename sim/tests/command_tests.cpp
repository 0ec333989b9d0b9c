#include <gtest/gtest.h>

#include <random>

#include "common/sha.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::kSelectApp;
using testing::Send;

class CardCommands : public ::testing::Test {
 protected:
  QorEngine card{EngineOptions{}};
};

TEST_F(CardCommands, SelectsOnlyTheQorApplication) {
  EXPECT_EQ(Send(card, "00 A4 04 00 08 D2 76 00 01 48 51 4F 53").sw, 0x6A82);
  EXPECT_EQ(Send(card, "00 CA 01 F1 00").sw, 0x6985);  // nothing selected yet
  EXPECT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(Send(card, "00 CA 01 F1 00").sw, 0x9000);
  EXPECT_EQ(Send(card, "00 A4 00 0C 02 11 11").sw, 0x6A82);
  card.Reset();  // a power cycle forgets the selection
  EXPECT_EQ(Send(card, "00 CA 01 F1 00").sw, 0x6985);
}

TEST_F(CardCommands, AnswersStatusWordsForUnknownOrMalformedCommands) {
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  EXPECT_EQ(Send(card, "00").sw, 0x6700);
  EXPECT_EQ(Send(card, "00 CA 01").sw, 0x6700);
  EXPECT_EQ(Send(card, "00 A4 04 00 08 D2 76").sw, 0x6700);  // Lc runs past the end
  EXPECT_EQ(Send(card, "00 A4 04 00 02 D2 76 00 00").sw, 0x6700);
  EXPECT_EQ(Send(card, "00 A4 04 00 00 00").sw, 0x6700);
  EXPECT_EQ(Send(card, "00 12 00 00 00").sw, 0x6D00);
  EXPECT_EQ(Send(card, "A0 CA 01 F1 00").sw, 0x6E00);
  EXPECT_EQ(Send(card, "80 CA 01 F1 00").sw, 0x6E00);
  EXPECT_EQ(Send(card, "00 40 00 00 02 CD 00 00").sw, 0x6E00);
  EXPECT_EQ(Send(card, "10 CA 01 F1 00").sw, 0x6884);
  EXPECT_EQ(Send(card, "00 CA 01 F9 00").sw, 0x6A88);
  EXPECT_EQ(Send(card, "80 40 00 00 03 CD 04 20 00").sw, 0x6A80);  // truncated element
  EXPECT_EQ(Send(card, "80 40 01 00 02 CD 00 00").sw, 0x6A86);
}

TEST_F(CardCommands, StatusHasNineObjectsInFixedOrder) {
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto reply = Send(card, "00 CA 01 F1 00");
  ASSERT_EQ(reply.sw, 0x9000);
  const auto objects = SplitElements(reply.data);
  ASSERT_TRUE(objects);
  ASSERT_EQ(objects->size(), 9u);
  EXPECT_EQ(reply.data[2], 0x03);  // lifecycle in the third byte
  EXPECT_EQ(ToText((*objects)[1].value), "T.2.0");
  EXPECT_EQ(ToText((*objects)[2].value), "QOR-SIM");
  EXPECT_EQ(ReadUint32((*objects)[3].value), 1u);
  EXPECT_EQ((*objects)[5].tag, 0xCB);
}

TEST(CardStatus, PersonalisedCardShowsPinTriesBeforeTheSeventhObject) {
  EngineOptions options;
  options.startLifecycle = Lifecycle::kPersonalised;
  QorEngine card(options);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto status = Send(card, "00 CA 01 F1 00");
  const auto objects = SplitElements(status.data);
  ASSERT_TRUE(objects);
  ASSERT_EQ(objects->size(), 10u);
  EXPECT_EQ((*objects)[6].tag, 0xD5);
  EXPECT_EQ((*objects)[6].value[0], 3);
}

TEST(CardStatus, VersionOneCardHasNoHashLengthOrAlgorithms) {
  EngineOptions options;
  options.versionLevel = 1;
  QorEngine card(options);
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto status = Send(card, "00 CA 01 F1 00");
  const auto objects = SplitElements(status.data);
  ASSERT_TRUE(objects);
  EXPECT_EQ(ToText((*objects)[1].value), "T.1.1");
  EXPECT_EQ(Send(card, "00 CA 01 F3 00").sw, 0x6A88);
  EXPECT_EQ(Send(card, "00 CA 01 F4 00").sw, 0x6A88);
}

TEST_F(CardCommands, HashLengthAndAlgorithms) {
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  const auto length = Send(card, "00 CA 01 F3 00");
  ASSERT_EQ(length.sw, 0x9000);
  ASSERT_GE(length.data.size(), 3u);
  EXPECT_EQ(length.data[2], 20);
  const auto reply = Send(card, "00 CA 01 F4 00");
  const auto algorithms = SplitElements(reply.data);
  ASSERT_TRUE(algorithms);
  EXPECT_EQ(algorithms->size(), 3u);
}

TEST_F(CardCommands, CertificateReadInBlocksUpToItsEnd) {
  ASSERT_EQ(Send(card, "00 A4 00 0C 02 11 10").sw, 0x6A82);  // application first
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  ASSERT_EQ(Send(card, "00 B0 00 00 00").sw, 0x6985);  // no file selected
  ASSERT_EQ(Send(card, "00 A4 00 0C 02 11 10").sw, 0x9000);
  const auto first = Send(card, "00 B0 00 00 00");
  ASSERT_EQ(first.sw, 0x9000);
  ASSERT_EQ(first.data.size(), 256u);
  ASSERT_EQ(first.data[0], 0x30);
  ASSERT_EQ(first.data[1], 0x82);
  const std::size_t total = ((first.data[2] << 8) | first.data[3]) + 4u;
  EXPECT_GT(total, 255u);
  Bytes all = first.data;
  while (all.size() < total) {
    const std::size_t want = std::min<std::size_t>(256, total - all.size());
    Bytes command = {0x00, 0xB0, static_cast<Byte>(all.size() >> 8), static_cast<Byte>(all.size()),
                     static_cast<Byte>(want)};
    const auto block = Send(card, command);
    ASSERT_EQ(block.sw, 0x9000);
    all.insert(all.end(), block.data.begin(), block.data.end());
  }
  EXPECT_EQ(all, card.CardCertificate());
  Bytes past = {0x00, 0xB0, static_cast<Byte>(total >> 8), static_cast<Byte>(total), 0x10};
  EXPECT_EQ(Send(card, past).sw, 0x6B00);
  Bytes over = {0x00, 0xB0, static_cast<Byte>((total - 2) >> 8), static_cast<Byte>(total - 2),
                0x10};
  const auto tail = Send(card, over);
  EXPECT_EQ(tail.sw, 0x6282);
  EXPECT_EQ(tail.data.size(), 2u);
  EXPECT_EQ(Send(card, "00 B0 00 00").sw, 0x6700);  // no Le
}

TEST_F(CardCommands, ChainedHashIsSha1OfAllBlocks) {
  ASSERT_EQ(Send(card, kSelectApp).sw, 0x9000);
  Bytes data(129);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<Byte>(i * 7);
  const Bytes head(data.begin(), data.begin() + 128);
  const Bytes last(data.begin() + 128, data.end());
  EXPECT_EQ(Send(card, testing::Command("10 2A 90 80", head)).sw, 0x9000);
  const auto reply = Send(card, testing::Command("00 2A 90 80", last));
  ASSERT_EQ(reply.sw, 0x9000);
  const Sha1Digest expected = Sha1(data);
  EXPECT_EQ(reply.data, Bytes(expected.begin(), expected.end()));
  // The next hash starts afresh.
  const auto single = Send(card, testing::Command("00 2A 90 80", last));
  const Sha1Digest lastOnly = Sha1(last);
  EXPECT_EQ(single.data, Bytes(lastOnly.begin(), lastOnly.end()));
  EXPECT_EQ(Send(card, testing::Command("00 2A 90 81", last)).sw, 0x6A86);
}

TEST(CardAtr, IsWellFormedT1WithCheckByte) {
  QorEngine card(EngineOptions{});
  const Bytes atr = card.Atr();
  ASSERT_GE(atr.size(), 4u);
  EXPECT_EQ(atr[0], 0x3B);
  EXPECT_EQ(atr.size(), 4u + (atr[1] & 0x0F));
  Byte check = 0;
  for (std::size_t i = 1; i < atr.size(); ++i)
    check ^= atr[i];
  EXPECT_EQ(check, 0);
}

}  // namespace
}  // namespace kasse::sim

namespace kasse::sim {
namespace {

// Random commands built from the card's own classes, instructions and tags: every one gets a
// status word, and no transaction data that is not a whole record is ever signed.
TEST(CardRobustness, RandomCommandsAlwaysGetAStatusWord) {
  QorEngine card{EngineOptions{}};
  std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
  const Byte classes[] = {0x00, 0x10, 0x80, 0xA0};
  const Byte instructions[] = {0xA4, 0xB0, 0xCA, 0x2A, 0x40, 0x42, 0x44, 0x00};
  const Byte tags[] = {0xCD, 0xCE, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD7, 0xE1, 0xE7,
                       0xD8, 0xD9, 0xDB, 0xCB, 0x9E, 0xC3, 0xD0, 0xD1, 0x00, 0xFF};
  for (int round = 0; round < 20000; ++round) {
    if (round % 50 == 0) {
      ASSERT_EQ(testing::Send(card, testing::kSelectApp).sw, 0x9000);
    }
    Bytes command = {classes[random() % 4], instructions[random() % 8],
                     static_cast<Byte>(random() % 6), static_cast<Byte>(random() % 3)};
    const std::size_t length = random() % 40;
    command.push_back(static_cast<Byte>(length));
    for (std::size_t i = 0; i < length; ++i) {
      command.push_back(random() % 3 == 0 ? tags[random() % 20] : static_cast<Byte>(random() % 8));
    }
    if (random() % 2) command.push_back(0x00);
    if (random() % 10 == 0) command.resize(random() % (command.size() + 1));
    const Bytes answer = card.Process(command);
    ASSERT_GE(answer.size(), 2u);
    const bool signedSomething = answer.size() > 2 && command.size() > 1 && command[1] == 0x40;
    EXPECT_FALSE(signedSomething) << HexWritten(command);
  }
}

}  // namespace
}  // namespace kasse::sim
