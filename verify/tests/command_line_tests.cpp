// kavelo-verify as a user runs it: the user's home and test issuer by default, the exit status
// telling valid, invalid and unusable apart, and files on the command line checked first.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/tests/support/test_folders.h"
#include "verify/tests/journal_fixture.h"

namespace kasse {
namespace {

using testing::JournalMaker;
using testing::T1;
using testing::TempFolder;

struct Outcome {
  int status = -1;
  std::string output;
};

// kavelo-verify with the user's folders inside `user`.
Outcome Verify(const TempFolder& user, const std::string& arguments) {
  const std::string out = (user.Path() / "out.txt").string();
  const std::string command = "XDG_DATA_HOME='" + (user.Path() / "data").string() +
                              "' XDG_STATE_HOME='" + (user.Path() / "state").string() + "' " +
                              KASSE_BIN_DIR "/kavelo-verify " + arguments + " >'" + out + "' 2>&1";
  Outcome run;
  const int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream file(out);
  std::stringstream text;
  text << file.rdbuf();
  run.output = text.str();
  return run;
}

TEST(KaveloVerify, ChecksAReceiptOfTheUsersRegisterWithoutOptions) {
  JournalMaker maker;
  const std::string url = "'http://127.0.0.1:8080/verify.php?t1=" + T1(maker.Sale(700)) + "'";
  TempFolder user;
  Outcome run = Verify(user, "url " + url);
  EXPECT_EQ(run.status, 2) << run.output;  // no journal yet: no certificate for the card
  EXPECT_NE(run.output.find("no certificate for the card QOR-SIM 1 in the journals under " +
                            (user.Path() / "data" / "kasse").string()),
            std::string::npos)
      << run.output;

  user.Write("data/kasse/Journal/260512XMLExpBak01S.xml", maker.S());
  user.Write("data/kasse/Journal/260512XMLExpBak01L.xml", maker.L());
  run = Verify(user, "url " + url);
  EXPECT_EQ(run.status, 1) << run.output;  // the card's issuer is not the user's
  const Bytes issuer = maker.Issuer();
  user.Write("state/kasse/test-issuer.der", std::string(issuer.begin(), issuer.end()));
  run = Verify(user, "url " + url);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("verdict:   VALID"), std::string::npos) << run.output;
  run = Verify(user, "audit");
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST(KaveloVerify, AnswersHelpAndVersionAndRefusesUnusableFiles) {
  TempFolder user;
  Outcome run = Verify(user, "--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("Usage: kavelo-verify url"), std::string::npos);
  run = Verify(user, "--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output.rfind("kavelo-verify ", 0), 0u) << run.output;
  const std::string notCertificate = user.Write("notes.txt", "hello").string();
  run = Verify(user, "url AAAA --ca '" + notCertificate + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find(notCertificate + ": neither a DER nor a PEM certificate"),
            std::string::npos)
      << run.output;
  run = Verify(user, "serve --certs '" + (user.Path() / "missing").string() + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find("missing: not a folder (--certs)"), std::string::npos) << run.output;
}

// The forms of every GNU program, and one short line for a mistake instead of the whole help.
TEST(KaveloVerify, TakesTheUsualOptionFormsAndNamesAMistakeInOneLine) {
  TempFolder user;
  Outcome run = Verify(user, "-h");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output.rfind("Usage: kavelo-verify url", 0), 0u) << run.output;
  const std::string home = (user.Path() / "home").string();
  run = Verify(user, "--home='" + home + "' audit");
  EXPECT_EQ(run.status, 2);  // read as the home: it holds no journal
  EXPECT_NE(run.output.find("no journal pair found"), std::string::npos) << run.output;
  run = Verify(user, "url -- --cert");  // after --, an operand like any other
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.output.find("needs a value"), std::string::npos) << run.output;
  for (const auto& [arguments, line] : std::vector<std::pair<std::string, std::string>>{
           {"audit --bogus x",
            "kavelo-verify: unknown option '--bogus'; try 'kavelo-verify --help'\n"},
           {"url --cert",
            "kavelo-verify: option '--cert' needs a value; try 'kavelo-verify --help'\n"},
           {"frob", "kavelo-verify: unknown command 'frob'; try 'kavelo-verify --help'\n"}}) {
    run = Verify(user, arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_EQ(run.output, line);
  }
}

}  // namespace
}  // namespace kasse
