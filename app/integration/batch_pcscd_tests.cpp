// `kasse --batch --card pcsc` end to end over pcscd, the vpcd reader and a qor-sim of this
// test (started by the pcscd fixture), checked afterwards by `kavelo-verify audit`.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "card/pcsc_lite.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "sim/tests/pcsc/qor_sim_process.h"

namespace kasse {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kBin = KASSE_BIN_DIR;

using QorSim = QorSimProcess;

// The first vpcd reader of pcscd, or nothing.
std::string FirstVpcdReader(PcscLiteApi& pcsc) {
  PcscHandle context = 0;
  std::string readers;
  const bool listed = pcsc.EstablishContext(context) == pcsc::kSuccess &&
                      pcsc.ListReaders(context, readers) == pcsc::kSuccess;
  if (context != 0) pcsc.ReleaseContext(context);
  if (!listed) return {};
  for (std::size_t start = 0; start < readers.size(); start = readers.find('\0', start) + 1) {
    const std::string name = readers.c_str() + start;
    if (name.find("Virtual PCD") != std::string::npos) return name;
  }
  return {};
}

bool WaitForCard(PcscLiteApi& pcsc, const std::string& reader, bool present) {
  PcscHandle context = 0;
  if (pcsc.EstablishContext(context) != pcsc::kSuccess) return false;
  std::uint32_t state = 0;
  const auto end = std::chrono::steady_clock::now() + 10s;
  bool reached = false;
  while (!reached && std::chrono::steady_clock::now() < end) {
    const std::uint32_t current = state;
    if (pcsc.GetStatusChange(context, reader, current, state, 500ms) == pcsc::kTimeout)
      state = current;
    reached = ((state & pcsc::kStatePresent) != 0) == present;
  }
  pcsc.ReleaseContext(context);
  return reached;
}

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class BatchOverPcscd : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    reader = FirstVpcdReader(pcsc);
    if (reader.empty()) GTEST_SKIP() << "no vpcd reader in pcscd";
    ASSERT_TRUE(WaitForCard(pcsc, reader, false)) << reader << " still holds a card";
    // The card's issuer, which kavelo-verify trusts, is this test's own, not the user's.
    home = testing::FreshHome("pcscd_" + std::to_string(GetParam()));
    card = std::make_unique<QorSim>(std::vector<std::string>{
        "--state", (home / "card.state").string(), "--version-level", std::to_string(GetParam())});
    ASSERT_TRUE(WaitForCard(pcsc, reader, true)) << "qor-sim did not reach " << reader;
  }
  void TearDown() override {
    card.reset();
    if (!reader.empty()) WaitForCard(pcsc, reader, false);
  }

  // Runs the script through `kasse --batch` on this home; the exit status.
  int Kasse(const std::string& script) {
    EXPECT_TRUE(WriteFileAtomic(home / "script.kasse", script));
    return Shell(kBin + "/kasse --batch '" + (home / "script.kasse").string() + "' --card pcsc " +
                 "--home '" + home.string() + "' >'" + (home / "out.txt").string() + "' 2>'" +
                 (home / "err.txt").string() + "'");
  }
  std::string Output(const char* file) {
    Result<std::string> text = ReadFile(home / file);
    return text ? *text : std::string();
  }

  PcscLiteApi pcsc;
  std::string reader;
  fs::path home;
  std::unique_ptr<QorSim> card;
};

TEST_P(BatchOverPcscd, SalesAndReportsAreSignedJournalledAndPassTheAudit) {
  ASSERT_EQ(Kasse("text on\nverify on\nhash-on-card on\n"
                  "select 0\nqty 2\nbook\nspecial name=Los p4=200 agency\nrabatt 5\n"
                  "summe\nkassieren\nreceipt\nurl\n"
                  "training on\nspecial name=Probe p1=100\nsumme\nkassieren\ntraining off\n"
                  "mass 20 5\nreport daily unsigned\nreport daily signed\nreport months\n"),
            0)
      << Output("err.txt");
  const std::string out = Output("out.txt");
  EXPECT_NE(out.find("verify.php?t1="), std::string::npos) << out;
  EXPECT_EQ(Shell(kBin + "/kavelo-verify audit --home '" + home.string() + "' >'" +
                  (home / "audit.txt").string() + "' 2>&1"),
            0)
      << Output("audit.txt");
  const std::string url =
      out.substr(out.find("http://"), out.find('\n', out.find("http://")) - out.find("http://"));
  EXPECT_EQ(
      Shell(kBin + "/kavelo-verify url '" + url + "' --home '" + home.string() + "' >/dev/null"),
      0);
}

TEST_P(BatchOverPcscd, APersonalisedCardTakesOnlyTheRightPin) {
  card.reset();
  ASSERT_TRUE(WaitForCard(pcsc, reader, false));
  fs::remove(home / "card.state");
  card = std::make_unique<QorSim>(
      std::vector<std::string>{"--state", (home / "card.state").string(), "--lifecycle", "2",
                               "--pin", "654321", "--version-level", std::to_string(GetParam())});
  ASSERT_TRUE(WaitForCard(pcsc, reader, true));
  EXPECT_EQ(Kasse("activate 111111\nselect 0\nbook\nsumme\nkassieren\n"), 1);
  EXPECT_EQ(Kasse("activate 654321\nselect 0\nbook\nsumme\nkassieren\nurl\n"), 0)
      << Output("err.txt");
}

// A script that starts the register first and the card just after: batch waits for the card
// (10 s by default) and says so, instead of failing at once.
TEST_P(BatchOverPcscd, BatchWaitsForACardThatAppearsAfterItStarted) {
  card.reset();
  ASSERT_TRUE(WaitForCard(pcsc, reader, false));
  ASSERT_TRUE(WriteFileAtomic(home / "script.kasse", "select 0\nbook\nsumme\nkassieren\nurl\n"));
  const std::string command = kBin + "/kasse --batch '" + (home / "script.kasse").string() +
                              "' --card pcsc --home '" + home.string() + "' 2>&1 >'" +
                              (home / "out.txt").string() + "'";
  FILE* errors = ::popen(command.c_str(), "r");
  ASSERT_NE(errors, nullptr);
  std::string said;
  char line[512];
  while (said.find("waiting") == std::string::npos && std::fgets(line, sizeof line, errors))
    said += line;
  EXPECT_NE(said.find("waiting up to 10 s"), std::string::npos) << said;
  card = std::make_unique<QorSim>(std::vector<std::string>{
      "--state", (home / "card.state").string(), "--version-level", std::to_string(GetParam())});
  while (std::fgets(line, sizeof line, errors))
    said += line;
  const int status = ::pclose(errors);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
  EXPECT_NE(Output("out.txt").find("verify.php?t1="), std::string::npos) << said;
}

// The card takes 1.5 s for each signature while the register waits 300 ms for an answer: the
// sale is not cashed in, the run ends in the card error, and the signature that comes after
// all is journalled as a late answer of the request that is still without one.
TEST_P(BatchOverPcscd, ASignatureThatComesAfterThePatienceIsJournalledLate) {
  card.reset();
  ASSERT_TRUE(WaitForCard(pcsc, reader, false));
  card = std::make_unique<QorSim>(
      std::vector<std::string>{"--state", (home / "card.state").string(), "--version-level",
                               std::to_string(GetParam()), "--delay-ms", "1500"});
  ASSERT_TRUE(WaitForCard(pcsc, reader, true));
  ASSERT_TRUE(WriteFileAtomic(home / "cfg" / "start.ini", "[Card]\npatience=300ms\n"));
  EXPECT_EQ(Kasse("select 0\nbook\nsumme\nkassieren\nurl\n"), 3) << Output("err.txt");
  EXPECT_NE(Output("err.txt").find("stopped answering"), std::string::npos) << Output("err.txt");
  EXPECT_EQ(Output("out.txt").find("verify.php"), std::string::npos);

  std::string journal;
  for (const fs::directory_entry& entry : fs::directory_iterator(home / "Journal"))
    if (entry.path().filename().string().ends_with("S.xml"))
      if (Result<std::string> text = ReadFile(entry.path())) journal = *text;
  const std::string open = "<transactionRequest>";
  const std::size_t at = journal.find(open);
  ASSERT_NE(at, std::string::npos) << journal;
  const std::string request =
      journal.substr(at + open.size(), journal.find('<', at + open.size()) - at - open.size());
  EXPECT_NE(journal.find("<transactionRequest>" + request + "</transactionRequest>" +
                         "</transactionEncoded>"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("<transactionLate><transactionRequest>" + request +
                         "</transactionRequest><transactionResponse>"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("</transactionResponse></transactionLate>"), std::string::npos);
}

// Without --card the register takes the card where it is: while qor-sim holds it (as
// qor-sim.service does), through pcscd; once qor-sim has let go, inside the register. Standard
// error says which.
TEST_P(BatchOverPcscd, WithoutCardTheCardIsTakenWhereItIs) {
  const auto kasse = [&](const std::string& script) {
    EXPECT_TRUE(WriteFileAtomic(home / "script.kasse", script));
    return Shell(kBin + "/kasse --batch '" + (home / "script.kasse").string() + "' --card-state '" +
                 (home / "card.state").string() + "' --sim-version " + std::to_string(GetParam()) +
                 " --home '" + home.string() + "' >'" + (home / "out.txt").string() + "' 2>'" +
                 (home / "err.txt").string() + "'");
  };
  const std::string sale = "select 0\nbook\nsumme\nkassieren\nurl\n";
  ASSERT_EQ(kasse(sale), 0) << Output("err.txt");
  EXPECT_NE(Output("err.txt").find("kasse: card: through pcscd, as process "), std::string::npos)
      << Output("err.txt");
  EXPECT_NE(Output("out.txt").find("verify.php?t1="), std::string::npos);

  card.reset();
  ASSERT_TRUE(WaitForCard(pcsc, reader, false));
  ASSERT_EQ(kasse(sale), 0) << Output("err.txt");
  EXPECT_NE(Output("err.txt").find("kasse: card: the simulated card " +
                                   (home / "card.state").string() + ", inside the register"),
            std::string::npos)
      << Output("err.txt");
  // The same card both times: its numbers go on, and the audit finds both sales.
  EXPECT_EQ(Shell(kBin + "/kavelo-verify audit --home '" + home.string() + "' >'" +
                  (home / "audit.txt").string() + "' 2>&1"),
            0)
      << Output("audit.txt");
  EXPECT_NE(Output("out.txt").find("verify.php?t1="), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CardVersions, BatchOverPcscd, ::testing::Values(1, 2));

}  // namespace
}  // namespace kasse
