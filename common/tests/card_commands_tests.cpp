#include <gtest/gtest.h>

#include "common/card_commands.h"
#include "common/hex_text.h"

namespace kasse {
namespace {

// Each kind of command in the form the card monitor has always shown it, and read back by the
// debug console to the very same bytes.
TEST(CommandText, EachKindKeepsItsFormAndReadsBackToItsBytes) {
  struct Case {
    const char* command;
    const char* text;
  };
  const Case cases[] = {
      {"00 A4 04 00 08 D2 76 00 01 48 51 4F 52", "00 A4 04 00 08 D2 76 00 01 48 51 4F 52"},
      {"00 CA 01 F1 00", "00 CA 01 F1 00"},
      {"00 B0 00 00 00", "00 b0 0000 00"},
      {"00 B0 01 00 DC", "00 b0 0100 DC"},
      {"10 2A 90 80 02 A0 01 00", "10 2A 90 80 02A0 01  00"},
      {"00 2A 90 80 01 7C 00", "00 2A 90 80 017C  00"},
      {"00 2A 90 80 00 00", "00 2A 90 80 00 00"},
      {"80 40 00 00 02 CA 00 00", "80 40 00 00 02 CA 00 00 "},
      {"80 42 01 00 00 00", "80 42 01 00 00 00 "},
      {"80 42 04 00 08 C3 06 31 32 33 34 35 36 00", "80 42 04 00 08 C3 06 31 32 33 34 35 36 00"},
      {"80 44 00 00 02 CB 00 00", "8044000002CB0000"},
      // Whatever an edit left of a command is still written.
      {"00 B0 00 00", "00 B0 00 00"},
      {"00 2A 90 80 00", "00 2A 90 80 00"},
      {"80", "80"},
      {"", ""},
  };
  for (const Case& c : cases) {
    const Bytes command = HexParse(c.command);
    EXPECT_EQ(CommandText(command), c.text) << c.command;
    EXPECT_EQ(HexParse(CommandText(command)), command) << c.command;
  }
  // Hidden bytes keep their place.
  std::vector<bool> hidden(8, false);
  hidden[6] = hidden[7] = true;
  EXPECT_EQ(CommandText(HexParse("80 42 04 00 03 C3 01 31"), hidden), "80 42 04 00 03 C3 ** **");
  EXPECT_EQ(CommandText(HexParse("80 40 00 00 01 31"), hidden), "80 40 00 00 01 31 ");
}

TEST(CardAnswer, SplitsAtTheStatusWordWhichTheJournalWritesAsFourDigits) {
  EXPECT_FALSE(SplitAnswer(HexParse("90")));
  EXPECT_FALSE(SplitAnswer({}));
  const std::optional<CardAnswer> accepted = SplitAnswer(HexParse("C0 01 14 90 00"));
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->data, HexParse("C0 01 14"));
  EXPECT_TRUE(accepted->Accepted());
  const std::optional<CardAnswer> refused = SplitAnswer(HexParse("6a 82"));
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->data.empty());
  EXPECT_FALSE(refused->Accepted());
  EXPECT_EQ(StatusWordText(refused->statusWord), "6A82");
  EXPECT_EQ(StatusWordText(0x0985), "0985");
}

TEST(CommandBytes, HeaderThenLcAndData) {
  EXPECT_EQ(CommandBytes(cmd::kGetCardStatus), HexParse("00 CA 01 F1"));
  EXPECT_EQ(CommandBytes(cmd::kSelectApplication, cmd::kQorApplication),
            HexParse("00 A4 04 00 08 D2 76 00 01 48 51 4F 52"));
  EXPECT_EQ(CommandBytes(cmd::kSelectFile, cmd::kCertificateFile),
            HexParse("00 A4 00 0C 02 11 10"));
}

}  // namespace
}  // namespace kasse
