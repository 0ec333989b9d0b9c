#include "receipt/raw_print_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/hex_text.h"
#include "common/tests/support/test_folders.h"
#include "receipt/receipt_file.h"

namespace kasse {
namespace {

std::string Hex(const std::string& bytes) {
  return HexWritten(ToBytes(bytes));
}

TEST(RawPrintJob, KnownReceiptByteForByte) {
  // A 60-character URL: the store command counts 63 = 3F 00.
  const std::string url = "http://127.0.0.1:8080/verify.php?t1=" + std::string(24, 'A');
  ASSERT_EQ(url.size(), 60u);
  const std::string job = BuildRawPrintJob({"Kassenbeleg", "Summe \x80"}, url);
  const std::string expected = "1B 74 10 1B 43 18 " + Hex("Kassenbeleg") + " 0D 0A " +
                               Hex("Summe \x80") + " 0D 0A 1B 61 31 1D 28 6B 03 00 31 45 30 " +
                               "1D 28 6B 3F 00 31 50 30 " + Hex(url) +
                               " 1D 28 6B 03 00 31 51 30 1B 61 30 1B 00 1D 56 41 00";
  EXPECT_EQ(Hex(job), expected);
}

TEST(RawPrintJob, EmptyUrlStoresNothing) {
  EXPECT_EQ(Hex(BuildQrPrintCommands("")),
            "1B 61 31 1D 28 6B 03 00 31 45 30 1D 28 6B 03 00 31 50 30 "
            "1D 28 6B 03 00 31 51 30 1B 61 30");
}

TEST(RawPrintJob, LongUrlCarriesIntoHighLengthByte) {
  const std::string commands = BuildQrPrintCommands(std::string(300, 'x'));
  // 303 = 0x012F; pL pH follow the store command's GS ( k.
  EXPECT_EQ(static_cast<unsigned char>(commands[14]), 0x2F);
  EXPECT_EQ(static_cast<unsigned char>(commands[15]), 0x01);
  EXPECT_EQ(commands.size(), 3u + 8u + 8u + 300u + 8u + 3u);
}

TEST(RawPrintJob, TrimmingDropsEmptyLastLinesButKeepsTwo) {
  std::vector<std::string> receipt = {"Kassenbeleg", "Summe", "", " ", "", "", ""};
  TrimEmptyLastLines(receipt);
  // A blank is not empty: that line stays.
  EXPECT_EQ(receipt, (std::vector<std::string>{"Kassenbeleg", "Summe", "", " "}));

  std::vector<std::string> two = {"Kassenbeleg", ""};
  TrimEmptyLastLines(two);
  EXPECT_EQ(two.size(), 2u);

  std::vector<std::string> allEmpty(6);
  TrimEmptyLastLines(allEmpty);
  EXPECT_EQ(allEmpty.size(), 2u);
}

TEST(ReceiptFile, SavesBytesWithoutTerminatorAndNamesUnwritableFile) {
  const std::filesystem::path folder = testing::FreshFolder();
  const std::filesystem::path file = folder / "beleg.txt";
  const std::string text = "Kassenbeleg\r\nK\xE4se 1,99 \x80\r\n\r\n";
  ASSERT_TRUE(SaveReceiptText(file, "old contents that are longer than the new ones"));
  ASSERT_TRUE(SaveReceiptText(file, text));
  std::ifstream in(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);

  const std::filesystem::path missing = folder / "no such folder" / "beleg.txt";
  const Result<void> failed = SaveReceiptText(missing, text);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind, ErrorKind::kIo);
  EXPECT_NE(failed.error().English().find(missing.string()), std::string::npos);
}

}  // namespace
}  // namespace kasse
