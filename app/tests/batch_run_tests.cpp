// The batch front-end end to end over the simulated card in this process.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "app/batch_runner.h"
#include "app/main/card_choice.h"
#include "common/base_n.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "register/register_probe.h"
#include "register/tests/sim_card.h"
#include "verify/receipt_verdict.h"

namespace kasse {
namespace {

using testing::FreshHome;
using testing::WellFormedXml;

std::vector<int> SequenceNumbers(const std::string& lFile) {
  static constexpr std::string_view kOpen = "<seqNoTransaction>";
  std::vector<int> numbers;
  for (std::size_t at = lFile.find(kOpen); at != std::string::npos; at = lFile.find(kOpen, at + 1))
    numbers.push_back(std::atoi(lFile.c_str() + at + kOpen.size()));
  return numbers;
}

struct Batch {
  explicit Batch(CardOptions card = {}) : Batch([card] { return MakeCardBackend(card); }) {}
  explicit Batch(CardBackendMaker card) : home(FreshHome()) {
    BatchOptions options;
    options.home = home;
    options.card = std::move(card);
    runner = std::make_unique<BatchRunner>(options, out, err);
  }
  int Run(const std::string& script) {
    std::istringstream in(script);
    return runner->Run(in);
  }
  Register& Reg() { return *runner->Reg(); }
  std::string LFile() { return ReadFile(RegisterProbe::JournalFiles(Reg()).LName()).value(); }
  // The journal pair is complete (closed) once the register has gone.
  bool JournalWellFormed() {
    const auto sName = RegisterProbe::JournalFiles(Reg()).SName();
    const auto lName = RegisterProbe::JournalFiles(Reg()).LName();
    runner.reset();
    return WellFormedXml(sName) && WellFormedXml(lName);
  }
  Bytes Certificate() {
    auto der = Base64Decode(Reg().Card().State().Certificate);
    return der ? *der : Bytes{};
  }

  std::filesystem::path home;
  std::ostringstream out, err;
  std::unique_ptr<BatchRunner> runner;
};

constexpr const char* kFullSale =
    "operator-name 2 \"Max M\xC3\xBCller\"\n"
    "operator 2\n"
    "select 0\n"
    "qty 2\n"
    "book\n"
    "special name=Brot p2=250 qty=3\n"
    "storno\n"
    "special name=\"Wein rot\" p1=1000\n"
    "rabatt 10\n"
    "special name=Gutschein p1=500 voucher\n"
    "special name=Los p4=200 agency\n"
    "special name=Kiste p1=900 delivery\n"
    "summe\n"
    "kassieren\n"
    "url\n";

class FullSale : public ::testing::TestWithParam<int> {};

TEST_P(FullSale, IsSignedJournalledAndVerifiable) {
  CardOptions card;
  card.simVersion = GetParam();
  Batch batch(card);
  ASSERT_EQ(batch.Run(std::string(kFullSale) + "training on\ntax exclusive\n" +
                      "special name=Probe p1=100\nsumme\nkassieren\nreceipt\n"),
            kBatchOk)
      << batch.err.str();
  const std::string lFile = batch.LFile();
  EXPECT_EQ(SequenceNumbers(lFile), (std::vector<int>{1, 2}));
  EXPECT_NE(lFile.find("Max M\xFC"
                       "ller"),
            std::string::npos);
  EXPECT_NE(batch.out.str().find("Max M\xC3\xBCller"), std::string::npos);

  // The first URL printed is the first sale's; the second sale's is the register's last.
  const std::string output = batch.out.str();
  const std::string firstUrl = output.substr(0, output.find('\n'));
  for (const std::string& url : {firstUrl, batch.Reg().LastVerifyUrl()}) {
    const ReceiptVerdict verdict = VerifyReceiptUrl(url, batch.Certificate());
    EXPECT_EQ(verdict.validity, Validity::kValid) << url << " " << verdict.reason;
  }
  EXPECT_TRUE(batch.JournalWellFormed());
}

INSTANTIATE_TEST_SUITE_P(CardVersions, FullSale, ::testing::Values(1, 2));

TEST(BatchRun, VerificationOnTheCardConfirmsTheSignature) {
  Batch batch;
  ASSERT_EQ(batch.Run("verify on\nhash-on-card on\nselect 1\nbook\nsumme\nkassieren\n"), kBatchOk)
      << batch.err.str();
  ASSERT_TRUE(RegisterProbe::Signing(batch.Reg()).LastVerification().has_value());
  EXPECT_TRUE(*RegisterProbe::Signing(batch.Reg()).LastVerification());
}

TEST(BatchRun, ReportsRunAndAreJournalled) {
  Batch batch;
  ASSERT_EQ(batch.Run("select 0\nbook\nsumme\nkassieren\nreport daily signed\n"
                      "report daily unsigned\nreport span 01/2020 12/2030\nreport months\n"
                      "status\n"),
            kBatchOk)
      << batch.err.str();
  EXPECT_NE(batch.out.str().find("+  0 |"), std::string::npos) << batch.out.str();
  EXPECT_TRUE(batch.JournalWellFormed());
}

TEST(BatchRun, FailingCommandsAreReportedAndTheRunGoesOn) {
  Batch batch;
  EXPECT_EQ(batch.Run("select 99\nfrobnicate\nrates 1900 07\nkassieren\nsumme\n"
                      "special name=X p1=abc\nselect 0\nbook\nsumme\nkassieren\n"),
            kBatchFailed);
  const std::string err = batch.err.str();
  EXPECT_NE(err.find("error: line 1: "), std::string::npos) << err;
  EXPECT_NE(err.find("error: line 2: unknown command frobnicate"), std::string::npos) << err;
  EXPECT_NE(err.find("error: line 6: "), std::string::npos) << err;
  EXPECT_EQ(SequenceNumbers(batch.LFile()), std::vector<int>{1});
}

TEST(BatchRun, StrictStopsAtTheFirstFailure) {
  const auto home = FreshHome();
  std::ostringstream out, err;
  BatchOptions options;
  options.home = home;
  options.card = [] { return MakeCardBackend(CardOptions{}); };
  options.strict = true;
  BatchRunner runner(options, out, err);
  std::istringstream script("select 99\nselect 0\nbook\n");
  EXPECT_EQ(runner.Run(script), kBatchFailed);
  EXPECT_TRUE(runner.Reg()->CurrentSale().NoSaleOpen());
}

TEST(BatchRun, PersonalisedCardTakesOnlyTheRightPin) {
  CardOptions card;
  card.simPersonalised = true;
  card.simPin = "654321";
  Batch batch(card);
  EXPECT_EQ(batch.Run("activate 123456\nactivate 654321\nselect 0\nbook\nsumme\nkassieren\n"),
            kBatchFailed);
  const std::string err = batch.err.str();
  EXPECT_NE(err.find("error: line 1: "), std::string::npos) << err;
  EXPECT_EQ(err.find("error: line 2"), std::string::npos) << err;
  EXPECT_EQ(batch.Reg().Card().State().lifeCycleCode, "03");
  // The activation's answer carries a sequence number too; the sale's is the next.
  const std::vector<int> numbers = SequenceNumbers(batch.LFile());
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.back(), 1);
}

TEST(BatchRun, MassGivesGaplessSignedTransactions) {
  Batch batch;
  ASSERT_EQ(batch.Run("mass 50 4 3 3\n"), kBatchOk) << batch.err.str();
  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i)
    expected[static_cast<std::size_t>(i)] = i + 1;
  EXPECT_EQ(SequenceNumbers(batch.LFile()), expected);
  EXPECT_NE(batch.err.str().find("mass: 50/50 (100 %)"), std::string::npos);
  EXPECT_TRUE(batch.JournalWellFormed());
}

// The form `kasse --help` documents: the last value switches the operators' turns on or off.
TEST(BatchRun, MassTakesTheOperatorsTurnsAsOnOrOff) {
  auto operatorsInJournal = [](const std::string& script) {
    Batch batch;
    EXPECT_EQ(batch.Run("operator-name 1 Anna\noperator-name 2 Bernd\noperator 2\n" + script),
              kBatchOk)
        << batch.err.str();
    const std::string lFile = batch.LFile();
    return std::pair(lFile.find(">Anna<") != std::string::npos,
                     lFile.find(">Bernd<") != std::string::npos);
  };
  EXPECT_EQ(operatorsInJournal("mass 20 2 100 2 off\n"), std::pair(false, true));
  EXPECT_EQ(operatorsInJournal("mass 20 2 100 2 on\n"), std::pair(true, true));
  Batch batch;
  EXPECT_EQ(batch.Run("mass 2 2 100 2 1\n"), kBatchFailed);
  EXPECT_NE(batch.err.str().find("mass: expected on or off, not 1"), std::string::npos)
      << batch.err.str();
}

TEST(BatchRun, ClockProductsAndReceiptFiles) {
  Batch batch;
  const std::string products = (batch.home / "Produkte" / "Eigene.xml").string();
  const std::string receipt = (batch.home / "bon.txt").string();
  ASSERT_EQ(batch.Run("clock 2027-03-04 10:15\nproduct-add name=\"K\xC3\xA4se\" unit=kg p2=1299\n"
                      "products-save " +
                      products + "\nproducts-load " + products +
                      "\n"
                      "select-name \"K\xC3\xA4se\"\nqty 0,5\nbook\nsumme\nsumme\n"
                      "save-receipt " +
                      receipt + "\nlanguage English\n"),
            kBatchOk)
      << batch.err.str();
  ASSERT_FALSE(batch.Reg().Products().Products().empty());
  EXPECT_EQ(batch.Reg().Products().Products().back().name, "K\xE4se");
  EXPECT_EQ(batch.Reg().Products().File(), products);
  const std::string lFile = batch.LFile();
  EXPECT_NE(lFile.find("<date>20270304</date><time>1015</time>"), std::string::npos);
  EXPECT_NE(lFile.find("K\xE4se"), std::string::npos);
  const Result<std::string> saved = ReadFile(receipt);
  ASSERT_TRUE(saved);
  EXPECT_NE(saved->find("K\xE4se"), std::string::npos);
  EXPECT_EQ(*saved, batch.Reg().CurrentSale().ReceiptText());  // as shown, nothing appended
  EXPECT_EQ(batch.Reg().Config().language, "English");
}

// A journal or export file's records: the frame and the parameter blocks taken out.
std::string RecordsOf(std::string text) {
  if (text.rfind(kJournalHeader, 0) == 0) text.erase(0, kJournalHeader.size());
  if (text.ends_with(kJournalClosingTag)) text.resize(text.size() - kJournalClosingTag.size());
  for (std::size_t at; (at = text.find("<qorParams>")) != std::string::npos;)
    text.erase(at, text.find("</qorParams>", at) + 12 - at);
  return text;
}

// `export new` and `export open` over two runs: each export file holds every record of both
// journal pairs in order, one parameter block of the card, and stays well-formed; `export new`
// refuses a pair that is there, naming the file.
TEST(BatchRun, ExportPairTakesEveryRecordSinceTheCardStarted) {
  Batch batch;
  const auto exported = batch.home / "Export" / "tag.xml";
  const auto sExport = batch.home / "Export" / "tagS.xml";
  const auto lExport = batch.home / "Export" / "tagL.xml";
  EXPECT_EQ(batch.Run("select 0\nbook\nsumme\nkassieren\nreport daily signed\n"
                      "export new " +
                      exported.string() +
                      "\nmass 40 6 3 3\n"
                      "export new " +
                      lExport.string() + "\nselect 1\nbook\nsumme\nkassieren\n"),
            kBatchFailed);
  EXPECT_NE(
      batch.err.str().find("error: line 8: cannot create " + sExport.string() + ": File exists"),
      std::string::npos)
      << batch.err.str();
  const Journal& journal = RegisterProbe::JournalFiles(batch.Reg());
  const std::string firstS = ReadFile(journal.SName()).value();
  const std::string firstL = ReadFile(journal.LName()).value();
  EXPECT_TRUE(WellFormedXml(sExport));
  EXPECT_TRUE(WellFormedXml(lExport));
  EXPECT_EQ(RecordsOf(ReadFile(sExport).value()), RecordsOf(firstS));
  EXPECT_EQ(RecordsOf(ReadFile(lExport).value()), RecordsOf(firstL));
  EXPECT_EQ(SequenceNumbers(ReadFile(lExport).value()).size(), 42u);

  // The next run adds to the pair: its own records, and no second block of the same card.
  ASSERT_EQ(batch.Run("select 0\nbook\nsumme\nkassieren\nexport open " + exported.string() +
                      "\nselect 2\nbook\nsumme\nkassieren\n"),
            kBatchOk)
      << batch.err.str();
  const Journal& second = RegisterProbe::JournalFiles(batch.Reg());
  const std::string lText = ReadFile(lExport).value();
  EXPECT_EQ(RecordsOf(lText), RecordsOf(firstL) + RecordsOf(ReadFile(second.LName()).value()));
  EXPECT_EQ(RecordsOf(ReadFile(sExport).value()),
            RecordsOf(firstS) + RecordsOf(ReadFile(second.SName()).value()));
  EXPECT_EQ(testing::Occurrences(lText, "<qorParams>"), 1u);
  EXPECT_TRUE(WellFormedXml(sExport));
  EXPECT_TRUE(WellFormedXml(lExport));
  EXPECT_EQ(batch.Run("export new\nexport old " + exported.string() + "\n"), kBatchFailed);
  EXPECT_NE(batch.err.str().find("usage: export new|open FILE"), std::string::npos);
}

TEST(BatchRun, CardRemovedIsACardError) {
  EmbeddedCard* card = nullptr;
  Batch batch([&card] {
    std::unique_ptr<EmbeddedCard> made = testing::SimCard({});
    card = made.get();
    return made;
  });
  ASSERT_TRUE(batch.runner->Start());
  card->Reader().RemoveCard();
  // The bound only matters when the event never comes (10 s for a loaded machine).
  for (int i = 0; i < 400 && !batch.Reg().Card().Failed(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    batch.Reg().ProcessCardEvents();
  }
  EXPECT_TRUE(batch.Reg().Card().Failed());
  EXPECT_FALSE(batch.Reg().Kassieren());
}

TEST(BatchRun, SettingsAreWrittenAtTheEndAndKeepWhatTheRegisterDoesNotKnow) {
  Batch batch;
  const auto ini = batch.home / "cfg" / "start.ini";
  ASSERT_TRUE(WriteFileAtomic(ini, "; kept\n[CFG]\noperator=ich\n\n[Extra]\nfoo=bar\n"));
  EXPECT_EQ(batch.Run("operator-name 2 bob\nrates 2000 0700 1900 0000 1070 0550\n"), 0)
      << batch.err.str();
  const std::string text = ReadFile(ini).value();
  EXPECT_EQ(text.rfind("; kept\n[CFG]\noperator=ich\noperator2=bob\n\n[Extra]\nfoo=bar\n", 0), 0u)
      << text;
  EXPECT_NE(text.find("container1=2000"), std::string::npos);
  // Nothing was signed: the run leaves no journal.
  EXPECT_TRUE(RegisterProbe::JournalFiles(batch.Reg()).SName().empty());
}

}  // namespace
}  // namespace kasse
