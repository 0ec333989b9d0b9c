#pragma once
// Helpers for APDU scripts against the simulated card: commands as hexadecimal text, answers
// split into data and status word.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "common/bytes.h"
#include "common/files.h"
#include "common/hex_text.h"
#include "common/packed.h"
#include "common/tests/support/test_folders.h"
#include "sim/card_crypto.h"
#include "sim/qor_engine.h"
#include "sim/tlv.h"

namespace kasse::sim::testing {

struct Reply {
  Bytes data;
  std::uint16_t sw = 0;
};

inline Reply Send(QorEngine& card, const Bytes& command) {
  const Bytes answer = card.Process(command);
  Reply reply;
  if (answer.size() < 2) return reply;
  reply.data.assign(answer.begin(), answer.end() - 2);
  reply.sw = static_cast<std::uint16_t>((answer[answer.size() - 2] << 8) | answer.back());
  return reply;
}

inline Reply Send(QorEngine& card, const std::string& hex) {
  return Send(card, HexParse(hex));
}

inline const std::string kSelectApp = "00 A4 04 00 08 D2 76 00 01 48 51 4F 52";

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A command with header, Lc, data and Le 00.
inline Bytes Command(const std::string& header, const Bytes& data) {
  Bytes command = HexParse(header);
  command.push_back(static_cast<Byte>(data.size()));
  command.insert(command.end(), data.begin(), data.end());
  command.push_back(0x00);
  return command;
}

inline Bytes Vat(Byte tag, std::int64_t turnover, std::int64_t turnoverNeg, const Bytes& rate) {
  Bytes inner;
  AppendElement(inner, 0xD8, PackSignedAmount(turnover));
  if (turnoverNeg != 0) AppendElement(inner, 0xD9, PackSignedAmount(turnoverNeg));
  AppendElement(inner, 0xDA, PackSignedAmount(turnover * 19 / 119));
  AppendElement(inner, 0xDB, rate);
  Bytes out;
  AppendElement(out, tag, inner);
  return out;
}

// Date, time, operator, hash and currency of a record, then `tail` (flags and containers).
inline Bytes Record(const Bytes& tail, const std::string& date = "20260512") {
  return Concat({HexParse("CD 04"), PackDigits(date).value_or(Bytes(4, 0)),
                 HexParse("CE 02 09 30 C6 03 69 63 68 C7 14"), Bytes(20, 0xAB),
                 HexParse("C8 02 03 D2"), tail});
}

inline Bytes Transaction(const Bytes& tail, const std::string& date = "20260512") {
  return Command("80 40 00 00", Record(tail, date));
}

inline Bytes ReportCommand(Byte p1, const Bytes& extra = {}) {
  return Command(HexWritten(Bytes{0x80, 0x42, p1, 0x00}),
                 Concat({HexParse("CD 04 20 26 05 12 CE 02 18 00"), extra}));
}

// A card file as written before the card kept its key and certificate in files of their own.
inline std::string OldFormatState(const CardKeys& keys, std::uint32_t tpIdNo, std::uint32_t seq) {
  return "qor-sim-state 1\nlifecycle 3\ntpId QOR-SIM\ntpIdNo " + std::to_string(tpIdNo) +
         "\npin 123456 3\nseq " + std::to_string(seq) + " 0\nkey " + HexCompact(keys.privateKey) +
         "\ncert " + HexCompact(keys.certificate) + "\ncaCert " + HexCompact(keys.caCertificate) +
         "\nend\n";
}

// A fresh folder of its own, removed with the test, for a state file and the test issuer: a
// test never touches the user's issuer.
class TempState {
 public:
  explicit TempState(const std::string& name) : folder_("qor-sim-" + name) {}

  const std::filesystem::path& Folder() const { return folder_.Path(); }
  std::filesystem::path File() const { return Folder() / "card.state"; }
  std::filesystem::path IssuerFolder() const { return Folder() / "issuer"; }
  // A card kept in File(), certified by the issuer in IssuerFolder().
  EngineOptions Options() const {
    EngineOptions options;
    options.stateFile = File();
    options.issuerFolder = IssuerFolder();
    return options;
  }

 private:
  kasse::testing::TempFolder folder_;
};

// The transaction number of a TRANSACTION answer (C4, C5, CB, 9E); 0 for a refusal.
inline std::uint32_t SeqOf(const Reply& reply) {
  const auto elements = SplitElements(reply.data);
  return reply.sw == 0x9000 && elements && elements->size() >= 3 ? ReadUint32((*elements)[2].value)
                                                                 : 0;
}

inline Bytes Sale(std::int64_t cents, const std::string& date = "20260512") {
  return Transaction(Vat(0xE1, cents, 0, HexParse("19 00")), date);
}

// Runs `sales` sales of 1.00 on the card in a child process that ends without any shutdown,
// as kill -9 would: the log keeps every record, the snapshot none of them.
inline void SalesThenCrash(const EngineOptions& options, int sales) {
  const pid_t child = ::fork();
  if (child == 0) {
    auto* card = new QorEngine(options);  // never deleted: no clean shutdown
    Send(*card, kSelectApp);
    int given = 0;
    for (int i = 0; i < sales; ++i)
      given += SeqOf(Send(*card, Sale(100))) != 0;
    ::_exit(given == sales ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Every regular file below `folder` with its bytes (lock files aside: a start rewrites them).
inline std::map<std::filesystem::path, std::string> FolderBytes(
    const std::filesystem::path& folder) {
  std::map<std::filesystem::path, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".lock") continue;
    files[entry.path()] = ReadFile(entry.path()).value();
  }
  return files;
}

}  // namespace kasse::sim::testing
