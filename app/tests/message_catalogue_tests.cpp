// Every message the register can show, from whichever layer names it, has a text in each of the
// four languages of the shipped file, with the same variable parts as its English form, and a
// number of its own.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/ini_file.h"
#include "common/language_texts.h"
#include "register/language.h"
#include "register/messages.h"
#include "sim/sim_messages.h"

namespace kasse {
namespace {

std::multiset<std::string> Placeholders(std::string_view text) {
  std::multiset<std::string> found;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
      found.insert(std::string(text.substr(i, 2)));
  return found;
}

std::set<std::string> Distinct(const std::multiset<std::string>& all) {
  return {all.begin(), all.end()};
}

TEST(MessageCatalogue, EveryMessageIsInEveryLanguageWithTheSameVariableParts) {
  const Result<IniFile> file = IniFile::Load(Language::ShippedFile());
  ASSERT_TRUE(file) << file.error().English();
  EXPECT_FALSE(file->WasUtf8());  // the file is cp1252, as every file of the register
  std::vector<const MessageId*> all = RegisterMessages();
  all.insert(all.end(), std::begin(sim_msg::kAll), std::end(sim_msg::kAll));
  ASSERT_GT(all.size(), 100u);
  std::set<int> seen;
  for (const MessageId* message : all) {
    const int number = message->number;
    EXPECT_GT(number, 90) << "numbers 1 to 90 keep their roles";
    EXPECT_LE(number, LanguageTexts::kTextCount);
    EXPECT_TRUE(seen.insert(number).second) << number << " twice";
    ASSERT_FALSE(message->english.empty()) << number;
    for (const char* section : {"Deutsch", "English", "Francais", "Polish"}) {
      const std::string text = file->GetString(section, std::to_string(number) + "txt", "");
      EXPECT_FALSE(text.empty()) << section << " has no text " << number;
      EXPECT_EQ(Distinct(Placeholders(text)), Distinct(Placeholders(message->english)))
          << section << " text " << number;
    }
  }
}

}  // namespace
}  // namespace kasse
