#include "app/batch_line.h"

#include <gtest/gtest.h>

namespace kasse {
namespace {

BatchLine Parse(std::string_view text) {
  auto line = ParseBatchLine(text);
  EXPECT_TRUE(line);
  EXPECT_TRUE(line && line->has_value());
  return line && line->has_value() ? **line : BatchLine{};
}

TEST(BatchLine, SplitsWordsAndQuotedValues) {
  BatchLine line = Parse("  operator-name 2 \"Max  M\xC3\xBCller\"\r");
  EXPECT_EQ(line.command, "operator-name");
  EXPECT_EQ(line.arguments, (std::vector<std::string>{"2", "Max  M\xC3\xBCller"}));
  line = Parse("special name=\"Brot \\\"gross\\\"\" p1=250 discount");
  EXPECT_EQ(line.arguments,
            (std::vector<std::string>{"name=Brot \"gross\"", "p1=250", "discount"}));
  const BatchFields fields = SplitFields(line.arguments);
  EXPECT_EQ(fields.values.at("name"), "Brot \"gross\"");
  EXPECT_EQ(fields.values.at("p1"), "250");
  EXPECT_EQ(fields.flags, (std::vector<std::string>{"discount"}));
  EXPECT_EQ(Parse("qty \"\"").arguments, (std::vector<std::string>{""}));
  EXPECT_EQ(Parse("select-name a#b").arguments, (std::vector<std::string>{"a#b"}));
}

TEST(BatchLine, BlankAndCommentLinesHoldNoCommand) {
  for (const char* text : {"", "   ", "# a comment", "   # indented", "\t\r"}) {
    auto line = ParseBatchLine(text);
    ASSERT_TRUE(line) << text;
    EXPECT_FALSE(line->has_value()) << text;
  }
}

TEST(BatchLine, UnclosedQuoteIsAnError) {
  auto line = ParseBatchLine("operator-name 1 \"Anna");
  ASSERT_FALSE(line);
  EXPECT_NE(line.error().English().find("quote"), std::string::npos);
}

}  // namespace
}  // namespace kasse
