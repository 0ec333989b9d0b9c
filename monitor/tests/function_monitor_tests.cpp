#include "monitor/function_monitor.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/files.h"

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
  const auto path = std::filesystem::temp_directory_path() / "kasse_monitor_test.rtf";
  ASSERT_TRUE(monitor.Save(path));
  auto text = ReadFile(path);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->rfind("{\\rtf1", 0), 0u);
  EXPECT_NE(text->find("Summe \\{1\\} \\'80\\par"), std::string::npos);
  EXPECT_NE(text->find("a\\\\b"), std::string::npos);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace kasse
