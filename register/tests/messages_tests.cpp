// The operator's messages: every number in all four languages, with the same variable parts as
// the English form, and errors of the lower layers said in the operator's language.

#include "register/messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <set>

#include "card/pcsc_errors.h"
#include "common/files.h"
#include "common/ini_file.h"
#include "common/tests/support/test_folders.h"
#include "journal/product_list.h"
#include "protocol/card_answers.h"

namespace kasse {
namespace {

const char* const kSections[] = {"Deutsch", "English", "Francais", "Polish"};

std::set<std::string> Placeholders(const std::string& text) {
  std::set<std::string> found;
  for (std::size_t i = 0; i + 1 < text.size(); ++i)
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') found.insert(text.substr(i, 2));
  return found;
}

std::string EnglishPattern(Message message) {
  return EnglishMessage(message, {"%1", "%2", "%3", "%4", "%5", "%6", "%7", "%8", "%9"});
}

LanguageTexts ShippedTexts(const std::string& section) {
  Result<IniFile> file =
      IniFile::Load(std::filesystem::path(KASSE_SOURCE_DIR) / "home" / "cfg" / "lang.ini");
  LanguageTexts texts;
  texts.Load(file ? *file : IniFile(), section);
  return texts;
}

TEST(MessageCatalogue, EveryNumberIsInEveryLanguageWithTheSameVariableParts) {
  Result<IniFile> file =
      IniFile::Load(std::filesystem::path(KASSE_SOURCE_DIR) / "home" / "cfg" / "lang.ini");
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->WasUtf8());  // the file is cp1252, as every file of the register
  std::set<int> seen;
  for (const int number : MessageNumbers()) {
    EXPECT_GT(number, 90) << "numbers 1 to 90 keep their roles";
    EXPECT_LE(number, LanguageTexts::kTextCount);
    EXPECT_TRUE(seen.insert(number).second) << number << " twice";
    const std::string english = EnglishPattern(static_cast<Message>(number));
    ASSERT_FALSE(english.empty()) << number;
    for (const char* section : kSections) {
      const std::string text = file->GetString(section, std::to_string(number) + "txt", "");
      EXPECT_FALSE(text.empty()) << section << " has no text " << number;
      EXPECT_EQ(Placeholders(text), Placeholders(english)) << section << " text " << number;
    }
  }
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

TEST(MessageCatalogue, ErrorsCarryTheirNumberAndArguments) {
  const Error error = MessageError(ErrorKind::kUnusableInput, Message::kNoProductAtIndex, {"7"});
  EXPECT_EQ(error.message, "no product at index 7");
  EXPECT_EQ(error.text, 92);
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), error), "Kein Produkt an Stelle 7");
  EXPECT_EQ(OperatorText(ShippedTexts("Francais"), error), "Aucun produit \xE0 la position 7");
  EXPECT_EQ(FillArguments("%2 vor %1, %3", {"a", "b"}), "b vor a, ");
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
    Message message{};
    std::vector<std::string> args;
    EXPECT_TRUE(RecogniseMessage(error.message, message, args)) << error.message;
    for (const char* section : kSections) {
      const std::string text = OperatorText(ShippedTexts(section), error);
      if (std::string(section) != "English") {
        EXPECT_NE(text, error.message) << section;
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

TEST(MessageCatalogue, StartWarningsAreRecognisedByTheirForm) {
  const LanguageTexts german = ShippedTexts("Deutsch");
  EXPECT_EQ(OperatorText(german, std::string_view("cfg/start.ini: [Tax] container1=19 is not a "
                                                  "four-digit rate; 1900 is used")),
            "cfg/start.ini: [Tax] container1=19 ist kein vierstelliger Steuersatz; 1900 wird "
            "verwendet");
  // The more specific form wins over the shorter one it contains.
  EXPECT_EQ(OperatorText(german, std::string_view("Product list /p/x.xml: saved as UTF-8, not "
                                                  "Windows-1252; read with conversion (characters "
                                                  "without a Windows-1252 form became \"?\"). "
                                                  "Save it as Windows-1252.")),
            "Produktliste /p/x.xml: als UTF-8 statt Windows-1252 gespeichert; mit Umwandlung "
            "gelesen (Zeichen ohne Windows-1252-Form wurden zu \"?\"). Bitte als Windows-1252 "
            "speichern.");
  EXPECT_EQ(OperatorText(german, std::string_view("cannot create /j/x: Permission denied")),
            "/j/x kann nicht angelegt werden: Permission denied");
  EXPECT_EQ(OperatorText(german, std::string_view("cannot create /j")),
            "/j kann nicht angelegt werden");
  EXPECT_EQ(OperatorText(german, std::string_view("print job on \"Bon\": cannot send the data: "
                                                  "Broken pipe")),
            "Druckauftrag auf \"Bon\": die Daten k\xF6nnen nicht gesendet werden: Broken pipe");
}

TEST(MessageCatalogue, WithoutATextTheEnglishFormIsShown) {
  const LanguageTexts none;
  EXPECT_EQ(OperatorText(none, MessageError(ErrorKind::kBusy, Message::kTaxModeDuringSale)),
            "the tax mode cannot change while a sale is open: cash it in or abort it first");
  // A message no one has numbered yet stays as it is.
  EXPECT_EQ(OperatorText(ShippedTexts("Deutsch"), std::string_view("something new")),
            "something new");
}

}  // namespace
}  // namespace kasse
