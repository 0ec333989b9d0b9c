#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include <cstdlib>

#include "common/files.h"
#include "sim/daemon_options.h"
#include "sim/test_issuer.h"
#include "sim/tests/card_script.h"
#include "sim/vpcd_card.h"

namespace kasse::sim {
namespace {

const Bytes kSelect = HexParse(testing::kSelectApp);
const Bytes kStatus = HexParse("00 CA 01 F1 00");

TEST(VpcdCard, ControlCodesResetTheCardAndAtrIsAnswered) {
  QorEngine engine{EngineOptions{}};
  VpcdCard card(engine, Faults{});
  EXPECT_EQ(card.Handle(Bytes{0x04}).reply, engine.Atr());
  EXPECT_EQ(card.Handle(kSelect).reply, HexParse("90 00"));
  for (const Byte control : {0x00, 0x01, 0x02}) {
    const FrameOutcome outcome = card.Handle(Bytes{control});
    EXPECT_FALSE(outcome.reply);
    EXPECT_FALSE(outcome.dropConnection);
  }
  EXPECT_EQ(card.Handle(kStatus).reply, HexParse("69 85"));  // selection forgotten
  EXPECT_FALSE(card.Handle(Bytes{0x09}).reply);
  EXPECT_FALSE(card.Handle(Bytes{}).reply);
}

TEST(VpcdCard, FailAfterDropsOnceWithoutAnswering) {
  QorEngine engine{EngineOptions{}};
  Faults faults;
  faults.failAfter = 2;
  VpcdCard card(engine, faults);
  EXPECT_TRUE(card.Handle(kSelect).reply);
  EXPECT_TRUE(card.Handle(kStatus).reply);
  const FrameOutcome dropped = card.Handle(kStatus);
  EXPECT_FALSE(dropped.reply);
  EXPECT_TRUE(dropped.dropConnection);
  EXPECT_FALSE(card.Handle(kSelect).dropConnection);
}

TEST(VpcdCard, StatusWordTruncateAndResetFaults) {
  QorEngine engine{EngineOptions{}};
  Faults faults;
  faults.statusWordIns = 0xCA;
  faults.statusWord = 0x6581;
  faults.truncate = true;
  faults.resetEvery = 3;
  VpcdCard card(engine, faults);
  EXPECT_EQ(card.Handle(kSelect).reply, HexParse("90 00"));
  EXPECT_EQ(card.Handle(kStatus).reply, HexParse("65 81"));
  const Bytes certificate = HexParse("00 A4 00 0C 02 11 10");
  const FrameOutcome third = card.Handle(certificate);
  EXPECT_TRUE(third.dropConnection);
  EXPECT_EQ(card.Handle(kSelect).reply, HexParse("90 00"));
  ASSERT_EQ(card.Handle(certificate).reply, HexParse("90 00"));
  const auto block = card.Handle(HexParse("00 B0 00 00 10")).reply;
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 8u + 2u);
  EXPECT_EQ(Bytes(block->end() - 2, block->end()), HexParse("90 00"));
}

std::vector<std::string> Split(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

TEST(DaemonOptions, ReadsEveryOption) {
  const auto options = ParseDaemonOptions(
      Split("--state /tmp/x --port 35964 --version-level 1 --lifecycle 2 --pin 654321 --debug-hash "
            "--delay-ms 50 --fail-after 7 --status-word 40:6a80 --truncate --reset-every 9 "
            "--stall-ms 30 --export-cert /tmp/c.der"));
  ASSERT_TRUE(options) << options.error().English();
  EXPECT_EQ(options->engine.stateFile, "/tmp/x");
  EXPECT_EQ(options->link.port, 35964);
  EXPECT_EQ(options->engine.versionLevel, 1);
  EXPECT_EQ(options->engine.startLifecycle, Lifecycle::kPersonalised);
  EXPECT_EQ(options->engine.transportPin, "654321");
  EXPECT_TRUE(options->engine.debugHash);
  EXPECT_EQ(options->engine.signDelay.count(), 50);
  EXPECT_EQ(options->faults.failAfter, 7u);
  EXPECT_EQ(options->faults.statusWordIns, 0x40);
  EXPECT_EQ(options->faults.statusWord, 0x6A80);
  EXPECT_TRUE(options->faults.truncate);
  EXPECT_EQ(options->faults.resetEvery, 9u);
  EXPECT_EQ(options->link.stall.count(), 30);
  EXPECT_EQ(options->exportCertificate, "/tmp/c.der");
}

TEST(VpcdCard, StallHoldsBackOnlyTheNamedInstruction) {
  QorEngine engine{EngineOptions{}};
  Faults faults;
  faults.stalls[0x40] = std::chrono::milliseconds(15000);
  VpcdCard card(engine, faults);
  const FrameOutcome select = card.Handle(kSelect);
  EXPECT_EQ(select.reply, HexParse("90 00"));
  EXPECT_EQ(select.stall.count(), 0);
  EXPECT_EQ(card.Handle(kStatus).stall.count(), 0);
  // The card has signed when the stall starts: the answer is late, not lost.
  const FrameOutcome sale =
      card.Handle(testing::Transaction(testing::Vat(0xE1, 100, 0, HexParse("19 00"))));
  EXPECT_EQ(sale.stall.count(), 15000);
  ASSERT_TRUE(sale.reply);
  EXPECT_EQ(Bytes(sale.reply->end() - 2, sale.reply->end()), HexParse("90 00"));
  EXPECT_EQ(card.Handle(Bytes{0x02}).stall.count(), 0);
}

TEST(DaemonOptions, ReadsIssuerNumberStallsAndExport) {
  const auto options =
      ParseDaemonOptions(Split("--issuer /srv/issuer --tpidno 4711 --stall 40:15000 --stall "
                               "ca:20 --stall-ms 5 --export-ca /tmp/ca.der"));
  ASSERT_TRUE(options) << options.error().English();
  EXPECT_EQ(options->engine.issuerFolder, "/srv/issuer");
  EXPECT_EQ(options->engine.tpIdNo, 4711u);
  EXPECT_EQ(options->faults.stalls.size(), 2u);
  EXPECT_EQ(options->faults.stalls.at(0x40).count(), 15000);
  EXPECT_EQ(options->faults.stalls.at(0xCA).count(), 20);
  EXPECT_EQ(options->link.stall.count(), 5);
  EXPECT_EQ(options->exportIssuer, "/tmp/ca.der");
  EXPECT_FALSE(ParseDaemonOptions({})->engine.tpIdNo);
}

TEST(DaemonOptions, PinFromFileOrEnvironmentStaysOutOfTheArguments) {
  testing::TempState temp("pin");
  const auto file = temp.Folder() / "pin";
  ASSERT_TRUE(WriteFileAtomic(file, "975310\n"));
  const auto fromFile = ParseDaemonOptions({"--pin-file", file.string()}, "111111");
  ASSERT_TRUE(fromFile) << fromFile.error().English();
  EXPECT_EQ(fromFile->engine.transportPin, "975310");
  EXPECT_EQ(ParseDaemonOptions({}, "864200")->engine.transportPin, "864200");
  EXPECT_EQ(ParseDaemonOptions({"--pin", "654321"}, "864200")->engine.transportPin, "654321");
  EXPECT_EQ(ParseDaemonOptions({})->engine.transportPin, "123456");

  EXPECT_FALSE(ParseDaemonOptions({}, "12345"));
  EXPECT_FALSE(ParseDaemonOptions({"--pin", "654321", "--pin-file", file.string()}));
  const auto missing = ParseDaemonOptions({"--pin-file", (temp.Folder() / "none").string()});
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().English().find("none"), std::string::npos);
  ASSERT_TRUE(WriteFileAtomic(file, "97531\n"));
  EXPECT_FALSE(ParseDaemonOptions({"--pin-file", file.string()}));
  EXPECT_FALSE(ParseDaemonOptions({"--pin-file", temp.Folder().string()}));  // a folder
}

// The program itself, as a verifier's set-up script runs it.
TEST(QorSimProgram, ExportsTheIssuerCertificateAndExits) {
  testing::TempState temp("export-ca");
  const auto exported = temp.Folder() / "ca.der";
  const std::string command = std::string("'") + KASSE_BIN_DIR + "/qor-sim' --issuer '" +
                              temp.IssuerFolder().string() + "' --export-ca '" + exported.string() +
                              "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto issuer = TestIssuer::Open(temp.IssuerFolder());
  ASSERT_TRUE(issuer);
  const auto written = ReadFile(exported);
  ASSERT_TRUE(written);
  EXPECT_EQ(ToBytes(*written), issuer->Certificate());
  EXPECT_FALSE(std::filesystem::exists(temp.Folder() / "card.state"));
}

TEST(DaemonOptions, RefusesBadValues) {
  for (const char* line : {"--port 0",
                           "--port 70000",
                           "--port x",
                           "--version-level 3",
                           "--lifecycle 4",
                           "--pin 12345",
                           "--pin 12345a",
                           "--status-word 40",
                           "--status-word 4:6A80",
                           "--status-word 40:6A8G",
                           "--delay-ms -1",
                           "--reset-every 0",
                           "--state",
                           "--bogus 1",
                           "stray",
                           "--stall 40",
                           "--stall 4:100",
                           "--stall 40:-1",
                           "--stall 40:x",
                           "--stall zz:10",
                           "--tpidno 0",
                           "--tpidno 4294967296",
                           "--tpidno x"}) {
    EXPECT_FALSE(ParseDaemonOptions(Split(line))) << line;
  }
  EXPECT_TRUE(ParseDaemonOptions(Split("--help"))->help);
}

// The forms of every GNU program, and one short line for a mistake.
TEST(DaemonOptions, TakesTheUsualFormsAndNamesAMistakeShortly) {
  const auto options = ParseDaemonOptions({"--port=35999", "--stall", "40:10", "--stall=CA:20"});
  ASSERT_TRUE(options) << options.error().English();
  EXPECT_EQ(options->link.port, 35999);
  EXPECT_EQ(options->faults.stalls.size(), 2u);
  EXPECT_TRUE(ParseDaemonOptions({"-h"})->help);
  EXPECT_TRUE(ParseDaemonOptions({"--version"})->version);
  const auto message = [](const std::vector<std::string>& args) {
    const auto parsed = ParseDaemonOptions(args);
    return parsed ? std::string() : parsed.error().English();
  };
  EXPECT_EQ(message({"--bogus"}), "unknown option '--bogus'");
  EXPECT_EQ(message({"--state"}), "option '--state' needs a value");
  EXPECT_EQ(message({"--truncate=1"}), "option '--truncate' takes no value");
  EXPECT_EQ(message({"--port", "0"}), "bad value '0' for --port (expected 1 to 65535)");
  EXPECT_EQ(message({"--", "--port"}), "unexpected argument '--port'");
}

}  // namespace
}  // namespace kasse::sim
