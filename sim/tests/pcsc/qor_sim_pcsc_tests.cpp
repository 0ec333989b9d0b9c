// qor-sim behind the real stack: pcscd with the vpcd driver (started by the pcscd fixture).
// The daemons here serve the second vpcd slot, so the card tests keep the first.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include "sim/tests/pcsc/qor_sim_process.h"

#include <fstream>
#include <random>

#include "common/files.h"
#include "sim/books_log.h"
#include "sim/tests/card_script.h"
#include "sim/tests/pcsc/pcsc_client.h"

namespace kasse::sim {
namespace {

using namespace std::chrono_literals;
using testing::PcscClient;

// One qor-sim process of our own on the second vpcd reader; killed with the object.
class Daemon : public QorSimProcess {
 public:
  explicit Daemon(std::vector<std::string> args)
      : QorSimProcess(WithPort(std::move(args)), SIGKILL) {}

 private:
  static std::vector<std::string> WithPort(std::vector<std::string> args) {
    args.insert(args.end(), {"--port", "35964"});
    return args;
  }
};

const Bytes kSelect = HexParse(testing::kSelectApp);

std::uint16_t StatusOf(const Bytes& answer) {
  return answer.size() < 2
             ? 0
             : static_cast<std::uint16_t>((answer[answer.size() - 2] << 8) | answer.back());
}

class QorSimPcsc : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto found = client.VpcdReader(1);
    if (!found) GTEST_SKIP() << "no vpcd reader in pcscd";
    reader = *found;
  }
  // pcscd may still show the card of a daemon just stopped, so the select decides.
  bool ConnectAndSelect() {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
      if (!client.Connect(reader, 2s)) continue;
      const auto answer = client.Transmit(kSelect);
      if (answer && StatusOf(*answer) == 0x9000) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  PcscClient client;
  std::string reader;
  testing::TempState temp{"pcsc"};
};

TEST_F(QorSimPcsc, AnswersSelectStatusAndCertificateThroughPcscd) {
  const std::string exported = temp.File().string() + ".der";
  Daemon daemon({"--state", temp.File().string(), "--issuer", temp.IssuerFolder().string(),
                 "--export-cert", exported});
  ASSERT_TRUE(ConnectAndSelect());
  const auto status = client.Transmit(HexParse("00 CA 01 F1 00"));
  ASSERT_TRUE(status);
  EXPECT_EQ(StatusOf(*status), 0x9000);
  EXPECT_EQ((*status)[2], 0x03);

  const auto selected = client.Transmit(HexParse("00 A4 00 0C 02 11 10"));
  ASSERT_TRUE(selected && StatusOf(*selected) == 0x9000);
  Bytes certificate;
  std::size_t total = 4;
  while (certificate.size() < total) {
    const std::size_t want =
        std::min<std::size_t>(256, total == 4 ? 256 : total - certificate.size());
    const Bytes command = {0x00, 0xB0, static_cast<Byte>(certificate.size() >> 8),
                           static_cast<Byte>(certificate.size()), static_cast<Byte>(want)};
    const auto block = client.Transmit(command);
    ASSERT_TRUE(block && StatusOf(*block) == 0x9000);
    certificate.insert(certificate.end(), block->begin(), block->end() - 2);
    total = ((certificate[2] << 8) | certificate[3]) + 4u;
  }
  EXPECT_EQ(ToBytes(ReadFile(exported).value()), certificate);

  client.Disconnect();
  // A clean stop on SIGTERM.
  const int exit = daemon.Stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0);
}

TEST_F(QorSimPcsc, ChosenStatusWordIsAnswered) {
  Daemon daemon({"--status-word", "40:6581"});
  ASSERT_TRUE(ConnectAndSelect());
  const auto answer =
      client.Transmit(testing::Transaction(testing::Vat(0xE1, 100, 0, HexParse("19 00"))));
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, HexParse("65 81"));
}

// What a kill in the middle of the log append leaves: the first part of a record. Its numbers
// are far ahead, so a replay that took it would show at once.
void AppendTornRecord(const std::filesystem::path& log, std::mt19937& random) {
  const std::string record = FrameRecord("lifecycle 3\npin 123456 3\nseq 9000 0\n");
  std::ofstream out(log, std::ios::binary | std::ios::app);
  out << record.substr(0, 1 + random() % (record.size() - 1));
}

// Kills the daemon at random moments during a run of transactions (every other kill also cut
// in the middle of the log append): numbers only grow, none is given twice, and the totals are
// those of every number given.
TEST_F(QorSimPcsc, KilledDaemonNeverRepeatsASequenceNumber) {
  // Signing takes 10 ms before the state is written, the answer waits 10 ms after: kills land
  // on both sides of the write.
  Daemon daemon({"--state", temp.File().string(), "--issuer", temp.IssuerFolder().string(),
                 "--delay-ms", "10", "--stall-ms", "10"});
  std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
  std::vector<std::uint32_t> answered;
  int kills = 0;
  const Bytes transaction = testing::Transaction(testing::Vat(0xE1, 100, 0, HexParse("19 00")));
  auto nextKill = std::chrono::steady_clock::now() + 100ms;
  while (answered.size() < 40) {
    if (std::chrono::steady_clock::now() >= nextKill && kills < 8) {
      // The kill lands while the transaction below is on its way.
      std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 25000));
        daemon.Stop(SIGKILL);
      });
      client.Transmit(transaction);
      killer.join();
      ++kills;
      if (kills % 2 == 0) AppendTornRecord(temp.File().string() + ".log", random);
      daemon.Start();
      nextKill = std::chrono::steady_clock::now() + std::chrono::milliseconds(100 + random() % 300);
      ASSERT_TRUE(ConnectAndSelect());
      continue;
    }
    const auto answer = client.Transmit(transaction);
    if (!answer) {
      ASSERT_TRUE(ConnectAndSelect());
      continue;
    }
    ASSERT_EQ(StatusOf(*answer), 0x9000);
    const auto elements = SplitElements(ByteSpan(*answer).first(answer->size() - 2));
    ASSERT_TRUE(elements && elements->size() == 4);
    answered.push_back(ReadUint32((*elements)[2].value));
  }
  for (std::size_t i = 1; i < answered.size(); ++i)
    EXPECT_GT(answered[i], answered[i - 1]);

  const auto report = client.Transmit(testing::ReportCommand(0x02));
  ASSERT_TRUE(report);
  ASSERT_EQ(StatusOf(*report), 0x9000);
  const auto elements = SplitElements(ByteSpan(*report).first(report->size() - 2));
  ASSERT_TRUE(elements);
  std::uint32_t first = 0, last = 0;
  Bytes container;
  for (const Element& e : *elements) {
    if (e.tag == 0xD2) first = ReadUint32(e.value);
    if (e.tag == 0xD3) last = ReadUint32(e.value);
    if (e.tag == 0xE1) container.assign(e.value.begin(), e.value.end());
  }
  RecordProperty("kills", kills);
  RecordProperty("lostAnswers", static_cast<int>(last - answered.size()));
  EXPECT_EQ(first, 1u);
  EXPECT_GE(last, answered.back());
  EXPECT_LE(last - answered.size(), static_cast<std::uint32_t>(kills));  // lost answers only
  Bytes expected;
  AppendElement(expected, 0xD8, PackSignedAmount(100 * static_cast<std::int64_t>(last)));
  AppendElement(expected, 0xDB, HexParse("19 00"));
  EXPECT_EQ(container, expected);
}

}  // namespace
}  // namespace kasse::sim
