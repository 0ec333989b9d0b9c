#include "monitor/function_monitor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/files.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

TEST(FunctionMonitor, LinesJoinWithCrLfAndWriteContinuesTheLastLine) {
  FunctionMonitor monitor;
  monitor.MonitorWriteLine("Transaktion");
  EXPECT_EQ(monitor.Text(), "Transaktion");
  monitor.MonitorWriteLine("\t");
  monitor.MonitorWrite("Menge: 2.5");
  monitor.MonitorWrite("kg\t");
  EXPECT_EQ(monitor.Text(), "Transaktion\r\n\tMenge: 2.5kg\t");
  const auto before = monitor.Revision();
  monitor.Clear();
  EXPECT_EQ(monitor.Text(), "");
  EXPECT_GT(monitor.Revision(), before);
  monitor.MonitorWriteLine("neu");
  EXPECT_EQ(monitor.Text(), "neu");
}

TEST(FunctionMonitor, SavesRichTextKeepingCp1252AndEscapingBraces) {
  FunctionMonitor monitor;
  monitor.MonitorWriteLine("Summe {1} \x80");
  monitor.MonitorWriteLine("a\\b");
  const auto path = testing::FreshFolder() / "monitor.rtf";
  ASSERT_TRUE(monitor.Save(path));
  auto text = ReadFile(path);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->rfind("{\\rtf1", 0), 0u);
  EXPECT_NE(text->find("Summe \\{1\\} \\'80\\par"), std::string::npos);
  EXPECT_NE(text->find("a\\\\b"), std::string::npos);
}

TEST(FunctionMonitor, LongRunKeepsOnlyTheNewestWholeLines) {
  FunctionMonitor monitor;
  const std::string line(1000, 'x');
  const std::size_t lines = FunctionMonitor::kMaxLength / 1000 * 3;
  for (std::size_t i = 0; i < lines; ++i) {
    monitor.MonitorWriteLine(std::to_string(i) + ":");
    monitor.MonitorWrite(line);
    ASSERT_LE(monitor.Text().size(), FunctionMonitor::kMaxLength);
  }
  const std::string& text = monitor.Text();
  EXPECT_GT(text.size(), FunctionMonitor::kMaxLength / 3);
  // The log starts at the beginning of a line and ends with the line written last.
  const std::size_t firstColon = text.find(':');
  ASSERT_NE(firstColon, std::string::npos);
  const std::string firstNumber = text.substr(0, firstColon);
  EXPECT_EQ(firstNumber.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(text.substr(firstColon + 1, line.size() + 2), line + "\r\n");
  EXPECT_TRUE(text.ends_with("\r\n" + std::to_string(lines - 1) + ":" + line));
  // Writing continues the last line after a trim as before.
  monitor.MonitorWrite("!");
  EXPECT_TRUE(monitor.Text().ends_with(line + "!"));
}

}  // namespace
}  // namespace kasse
