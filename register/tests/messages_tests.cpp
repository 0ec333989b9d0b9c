// The operator's messages: errors of every layer said in the operator's language, nested ones
// too, and English where a language lacks a text. (That every message has a text in every
// language is app/tests/message_catalogue_tests.cpp.)

#include "register/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <set>

#include "card/pcsc_errors.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/message_text.h"
#include "common/tests/support/test_folders.h"
#include "journal/product_list.h"
#include "protocol/card_answers.h"
#include "register/register_config.h"

namespace kasse {
namespace {

const char* const kSections[] = {"Deutsch", "English", "Francais", "Polish"};

LanguageTexts ShippedTexts(const std::string& section) {
  Result<IniFile> file =
      IniFile::Load(std::filesystem::path(KASSE_SOURCE_DIR) / "home" / "cfg" / "lang.ini");
  LanguageTexts texts;
  texts.Load(file ? *file : IniFile(), section);
  return texts;
}

// Numbered texts the code asks for by a literal number: each language of the file has them.
TEST(MessageCatalogue, EveryTextNumberTheCodeNamesIsInEveryLanguage) {
  Result<IniFile> file =
      IniFile::Load(std::filesystem::path(KASSE_SOURCE_DIR) / "home" / "cfg" / "lang.ini");
  ASSERT_TRUE(file);
  const std::regex call(R"(LangText\((\d+)\))");
  std::set<int> numbers;
  for (const char* folder : {"register", "ui", "protocol", "card", "receipt", "monitor"}) {
    const auto root = std::filesystem::path(KASSE_SOURCE_DIR) / folder;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.path().extension() != ".cpp" || entry.path().parent_path().filename() == "tests")
        continue;
      const Result<std::string> source = ReadFile(entry.path());
      ASSERT_TRUE(source);
      for (auto it = std::sregex_iterator(source->begin(), source->end(), call);
           it != std::sregex_iterator(); ++it)
        numbers.insert(std::stoi((*it)[1].str()));
    }
  }
  ASSERT_FALSE(numbers.empty());
  for (const int number : numbers)
    for (const char* section : kSections)
      EXPECT_FALSE(file->GetString(section, std::to_string(number) + "txt", "").empty())
          << section << " has no text " << number;
}

// A message is worded once, where its layer names it: a copy of its English in a string
// elsewhere would show in English when the two drift apart.
TEST(MessageCatalogue, NoMessageIsWordedTwiceInTheCode) {
  std::vector<std::string> pieces;
  for (const MessageId* message : RegisterMessages()) {
    std::string_view rest = message->english;
    while (!rest.empty()) {
      std::size_t cut = rest.find('%');
      while (cut != std::string_view::npos &&
             (cut + 1 >= rest.size() || rest[cut + 1] < '1' || rest[cut + 1] > '9'))
        cut = rest.find('%', cut + 1);
      if (rest.substr(0, cut).size() >= 20) pieces.emplace_back(rest.substr(0, cut));
      rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 2);
    }
  }
  ASSERT_GT(pieces.size(), 50u);
  const std::regex literal(R"re("(?:[^"\\\n]|\\.)*")re");
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(std::filesystem::path(KASSE_SOURCE_DIR))) {
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    const bool testCode = path.find("/tests/") != std::string::npos ||
                          path.find("/integration/") != std::string::npos ||
                          path.find("/crash/") != std::string::npos;
    if (testCode || path.find("/build/") != std::string::npos ||
        path.find("/.git/") != std::string::npos || name.ends_with("messages.h"))
      continue;
    if (entry.path().extension() != ".cpp" && entry.path().extension() != ".h") continue;
    const Result<std::string> source = ReadFile(entry.path());
    ASSERT_TRUE(source);
    for (auto it = std::sregex_iterator(source->begin(), source->end(), literal);
         it != std::sregex_iterator(); ++it)
      for (const std::string& piece : pieces)
        EXPECT_EQ(it->str().find(piece), std::string::npos) << path << " words again: " << piece;
  }
}

TEST(MessageCatalogue, ErrorsCarryTheirMessageAndArguments) {
  const Error error = MakeError(ErrorKind::kUnusableInput, msg::kNoProductAtIndex, {"7"});
  EXPECT_EQ(error.English(), "no product at index 7");
  EXPECT_TRUE(error.Is(msg::kNoProductAtIndex));
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), error), "Kein Produkt an Stelle 7");
  EXPECT_EQ(OperatorText(ShippedTexts("Francais"), error), "Aucun produit \xE0 la position 7");
}

TEST(MessageCatalogue, FileErrorsKeepThePathAndTheSystemsReason) {
  const auto missing = testing::FreshHome() / "nicht-da.xml";
  const Result<std::string> read = ReadFile(missing);
  ASSERT_FALSE(read);
  const std::string reason = std::strerror(ENOENT);
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), read.error()), missing.string() +
                                                                     " kann nicht ge\xF6"
                                                                     "ffnet werden: " +
                                                                     reason);
  // The product list's message wraps the file's: both are said in the operator's language.
  ProductList products;
  const Result<void> loaded = products.Load(missing);
  ASSERT_FALSE(loaded);
  EXPECT_EQ(OperatorText(ShippedTexts("English"), loaded.error()),
            "Product list " + missing.string() + " cannot be read: Cannot open " +
                missing.string() + ": " + reason);
  EXPECT_EQ(OperatorText(ShippedTexts("Polish"), loaded.error()),
            "Nie mozna odczytac listy produkt\xF3w " + missing.string() + ": Nie mozna otworzyc " +
                missing.string() + ": " + reason);
}

TEST(MessageCatalogue, CardAnswerProblemsAreSaidInTheLanguage) {
  const Result<BookedMonths> months = ReadBookedMonths(Bytes{0xC9, 0x03, 0x20, 0x26, 0x13});
  ASSERT_FALSE(months);
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), months.error()),
            "Umsatzmonate: der erste Monat ist kein Monat");
}

// Each cause PC/SC can name has its own text in every language, so the card error window
// says what happened instead of one text for every failure.
TEST(MessageCatalogue, PcscCausesAreSaidInTheLanguage) {
  std::set<std::string> seen;
  for (const CardFault fault :
       {CardFault::kServiceStopped, CardFault::kNoReaders, CardFault::kReaderRemoved,
        CardFault::kNoCard, CardFault::kCardRemoved, CardFault::kCardReset,
        CardFault::kCardUnresponsive, CardFault::kCardShared, CardFault::kTimeout,
        CardFault::kServiceFault, CardFault::kReaderFault, CardFault::kCardUnusable,
        CardFault::kAccessRefused, CardFault::kCardDataMissing, CardFault::kRequestRefused,
        CardFault::kCancelled, CardFault::kOther}) {
    const Error error = FaultError(fault, pcsc::kCommError);
    EXPECT_EQ(FaultOf(error), fault) << error.English();  // the fault reaches the edge as it was
    for (const char* section : kSections) {
      const std::string text = OperatorText(ShippedTexts(section), error);
      if (std::string(section) != "English") {
        EXPECT_NE(text, error.English()) << section;
      }
      EXPECT_TRUE(seen.insert(text).second) << section << ": " << text << " twice";
    }
  }
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), PcscError(pcsc::kNoService)),
            "Der PC/SC-Dienst l\xE4uft nicht");
  EXPECT_EQ(OperatorText(ShippedTexts("Polish"), PcscError(pcsc::kCommError)),
            "Czytnik kart nie mogl przekazac polecenia (0x80100013); odlacz czytnik i podlacz go "
            "ponownie");
  EXPECT_EQ(OperatorText(ShippedTexts("Polish"), PcscError(0x80100099)),
            "Czytnik kart zglasza blad 0x80100099");
}

TEST(MessageCatalogue, StartWarningsAreSaidInTheLanguage) {
  const auto home = testing::FreshHome();
  std::filesystem::create_directories(home / "cfg");
  ASSERT_TRUE(
      WriteFileAtomic(home / "cfg" / "start.ini", "stray line\r\n[Tax]\r\ncontainer1=19\r\n"));
  RegisterConfig config(home);
  const std::vector<Error> warnings = config.LoadConfiguration();
  ASSERT_EQ(warnings.size(), 2u);
  const LanguageTexts german = ShippedTexts("Deutsch");
  EXPECT_EQ(warnings[0].English(),
            "cfg/start.ini: line 1 is neither a section nor a key=value line; skipped");
  EXPECT_EQ(OperatorText(german, warnings[1]),
            "cfg/start.ini: [Tax] container1=19 ist kein vierstelliger Steuersatz; 1900 wird "
            "verwendet");
  // A journal error wraps the file's error and the advice its errno calls for.
  Error full = MakeError(ErrorKind::kIo, file_msg::kCannotWrite, {"/j/S.xml", "No space"});
  full.systemError = ENOSPC;
  const Error held = JournalError(msg::kJournalStillHeld, {}, full);
  EXPECT_EQ(held.systemError, ENOSPC);
  const std::string said = OperatorText(german, held);
  EXPECT_NE(said.find("/j/S.xml kann nicht geschrieben werden: No space"), std::string::npos)
      << said;
  EXPECT_NE(said.find(german.LangText(file_msg::kAdviceNoSpace.number)), std::string::npos);
  EXPECT_EQ(held.English(),
            "The journal record of the last signed sale or report is still not written (cannot "
            "write /j/S.xml: No space). Nothing more is signed until it is. Free space on the "
            "disk.");
}

TEST(MessageCatalogue, WithoutATextTheEnglishFormIsShown) {
  const LanguageTexts none;
  EXPECT_EQ(OperatorText(none, MakeError(ErrorKind::kBusy, msg::kTaxModeDuringSale)),
            "the tax mode cannot change while a sale is open: cash it in or abort it first");
  // A detail no message names (a decoder's, a service's) stays as it is.
  EXPECT_EQ(
      OperatorText(ShippedTexts("Deutsch"), MakeError(ErrorKind::kMalformed, "something new")),
      "something new");
  EXPECT_EQ(FillArguments("%2 vor %1, %3", {"a", "b"}), "b vor a, ");
}

}  // namespace
}  // namespace kasse
