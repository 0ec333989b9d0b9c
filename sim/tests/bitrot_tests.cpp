// Bit rot in the card's own files: one byte flipped at a time in the snapshot, the log, the key,
// the certificate and the test issuer's files, and the card started on them. Never a crash,
// never a number twice, never a file overwritten: each case is refused with the file named,
// or harmless (the card answers exactly as it does on the files unflipped).
//
// A sample of positions runs with the unit tests; KASSE_BITROT_ALL=1 flips every byte (the
// system test sim_bitrot_all).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>

#include "common/payload_filter.h"
#include "sim/tests/card_script.h"

namespace kasse::sim {
namespace {

using testing::FolderBytes;
using testing::kSelectApp;
using testing::ReportCommand;
using testing::Sale;
using testing::SalesThenCrash;
using testing::Send;
using testing::SeqOf;
using testing::TempState;

using Files = std::map<std::filesystem::path, std::string>;

constexpr std::size_t kSampleSize = 24;
constexpr std::uint32_t kLastGiven = 7;

// Written plainly: a case's files need no sync, and a sweep writes thousands.
void Restore(const Files& files, const Files& now) {
  for (const auto& [path, bytes] : files) {
    const auto found = now.find(path);
    if (found != now.end() && found->second == bytes) continue;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  for (const auto& [path, bytes] : now) {
    if (!files.count(path)) std::filesystem::remove(path);
  }
}

struct Answers {
  std::vector<testing::Reply> plain;  // compared byte for byte
  testing::Reply sale;                // its signature is checked instead
};

const Bytes kSaleRequest = testing::Record(testing::Vat(0xE1, 100, 0, HexParse("19 00")));

Answers Script(QorEngine& card) {
  Answers answers;
  for (const char* command :
       {"00 A4 04 00 08 D2 76 00 01 48 51 4F 52", "00 CA 01 F1 00", "00 CA 01 F2 00",
        "00 A4 00 0C 02 11 10", "00 B0 00 00 00", "00 B0 01 00 00"}) {
    answers.plain.push_back(Send(card, command));
  }
  answers.plain.push_back(Send(card, ReportCommand(0x02)));
  answers.sale = Send(card, testing::Command("80 40 00 00", kSaleRequest));
  return answers;
}

// The sale's answer as the unflipped card's: the same elements, and a signature the card's
// certificate verifies.
bool SameSale(const testing::Reply& sale, const testing::Reply& reference, const Bytes& cert) {
  const auto split = [](const Bytes& data) {
    const auto elements = SplitElements(data);
    return elements && elements->size() == 4 ? *elements : std::vector<Element>{};
  };
  const auto got = split(sale.data);
  const auto want = split(reference.data);
  if (sale.sw != 0x9000 || got.empty() || want.empty()) return false;
  Bytes message = kSaleRequest;
  FilterPayload(message);
  for (std::size_t i = 0; i < 3; ++i) {
    if (!std::equal(got[i].value.begin(), got[i].value.end(), want[i].value.begin(),
                    want[i].value.end())) {
      return false;
    }
    AppendElement(message, got[i].tag, got[i].value);
  }
  return VerifyMessage(cert, message, got[3].value);
}

std::vector<std::size_t> Positions(std::size_t size, bool all, std::mt19937& random) {
  std::vector<std::size_t> positions;
  if (all || size <= kSampleSize) {
    for (std::size_t p = 0; p < size; ++p)
      positions.push_back(p);
    return positions;
  }
  positions = {0, size - 1};
  while (positions.size() < kSampleSize)
    positions.push_back(random() % size);
  return positions;
}

TEST(CardBitRot, EveryFlippedByteIsRefusedWithItsFileOrHarmless) {
  const bool all = std::getenv("KASSE_BITROT_ALL") != nullptr;
  TempState temp("bitrot");
  const EngineOptions options = temp.Options();
  {
    QorEngine card(options);
    ASSERT_FALSE(card.StartError()) << card.StartError()->English();
    Send(card, kSelectApp);
    ASSERT_EQ(SeqOf(Send(card, Sale(100, "20260412"))), 1u);
    ASSERT_EQ(Send(card, ReportCommand(0x01)).sw, 0x9000);
    ASSERT_EQ(SeqOf(Send(card, Sale(250))), 2u);
    ASSERT_EQ(SeqOf(Send(card, Sale(300))), 3u);
  }
  SalesThenCrash(options, kLastGiven - 3);
  const Files reference = FolderBytes(temp.Folder());
  Answers expected;
  Bytes certificate;
  {
    QorEngine card(options);
    ASSERT_FALSE(card.StartError());
    certificate = card.CardCertificate();
    expected = Script(card);
    ASSERT_EQ(SeqOf(expected.sale), kLastGiven + 1);
  }
  Restore(reference, FolderBytes(temp.Folder()));

  const std::string base = temp.File().string();
  const std::vector<std::filesystem::path> targets = {base,
                                                      base + ".log",
                                                      base + ".key",
                                                      base + ".cert",
                                                      temp.IssuerFolder() / "test-issuer.der",
                                                      temp.IssuerFolder() / "test-issuer.key",
                                                      temp.IssuerFolder() / "test-issuer.serial"};
  std::mt19937 random(24);
  for (const auto& target : targets) {
    ASSERT_TRUE(reference.count(target)) << target;
    const std::string& original = reference.at(target);
    int refused = 0, harmless = 0;
    for (const std::size_t at : Positions(original.size(), all, random)) {
      Files flipped = reference;
      flipped[target][at] = static_cast<char>(original[at] ^ (1 << (at % 8)));
      Restore(flipped, FolderBytes(temp.Folder()));
      SCOPED_TRACE(target.string() + " byte " + std::to_string(at));
      bool started = false;
      {
        QorEngine card(options);
        if (card.StartError()) {
          ++refused;
          EXPECT_NE(card.StartError()->English().find(target.string()), std::string::npos)
              << card.StartError()->English();
          EXPECT_EQ(Send(card, kSelectApp).sw, 0x6F00);
        } else {
          ++harmless;
          started = true;
          const Answers answers = Script(card);
          EXPECT_EQ(answers.plain.size(), expected.plain.size());
          for (std::size_t i = 0; i < answers.plain.size(); ++i) {
            EXPECT_EQ(answers.plain[i].data, expected.plain[i].data) << "answer " << i;
            EXPECT_EQ(answers.plain[i].sw, expected.plain[i].sw) << "answer " << i;
          }
          EXPECT_GT(SeqOf(answers.sale), kLastGiven);
          EXPECT_TRUE(SameSale(answers.sale, expected.sale, certificate));
        }
      }
      const Files after = FolderBytes(temp.Folder());
      for (const auto& [path, bytes] : flipped) {
        // The books change with a harmless case's sale; nothing else is ever written.
        if (started && (path == base || path == base + ".log")) continue;
        EXPECT_EQ(after.at(path), bytes) << path;
      }
      if (::testing::Test::HasFailure()) return;
    }
    std::cout << "bit rot in " << target.filename().string() << " (" << original.size()
              << " bytes): " << refused << " refused, " << harmless << " harmless\n";
  }
}

}  // namespace
}  // namespace kasse::sim
