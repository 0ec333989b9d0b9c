#include "bench/sample_sale.h"

#include <array>

#include "common/files.h"
#include "common/ini_file.h"

namespace kasse::bench {
namespace {

constexpr std::array<double, 6> kRates = {0.19, 0.07, 0.19, 0.0, 0.107, 0.055};

struct Position {
  const char* quantity;
  const char* unit;
  const char* name;
  int container;  // 1..6
  const char* cents;
};

// Names in cp1252, as the product list holds them (octal where a letter follows).
constexpr std::array<Position, kSamplePositions> kPositions = {{
    {"2", "St\374ck", "Br\xF6tchen", 2, "90"},
    {"1", "", "Kaffee Crema", 1, "320"},
    {"2", "kg", "\xC4pfel Boskop", 2, "598"},
    {"1", "Flasche", "Wein rot", 1, "1000"},
    {"3", "", "Zeitung", 2, "750"},
}};

LanguageTexts LoadTexts(const std::filesystem::path& languageFile) {
  LanguageTexts texts;
  if (languageFile.empty()) return texts;
  if (Result<IniFile> file = IniFile::Load(languageFile); file) texts.Load(*file, "Deutsch");
  return texts;
}

}  // namespace

SampleSale::SampleSale(const std::filesystem::path& folder,
                       const std::filesystem::path& languageFile)
    : texts_(LoadTexts(languageFile)),
      journal_(folder, [] { return std::string("260512"); }),
      clock_([] {
        return ToAppDateTime({2026, 5, 12, 9, 30, 12, 0});
      }),
      record_(monitor_, texts_, journal_, clock_),
      items_(monitor_, texts_) {
  std::error_code ignored;
  std::filesystem::create_directories(folder / "Journal", ignored);
}

void SampleSale::EncodePosition(int index) {
  const Position& p = kPositions[static_cast<std::size_t>(index) % kPositions.size()];
  ItemInput item{p.quantity, p.unit, p.name, false, false, false, {}};
  item.amounts[static_cast<std::size_t>(p.container - 1)] = p.cents;
  (void)items_.EncodeItem(item, containers_, 2);
}

void SampleSale::EncodePositions() {
  items_.ResetItemList(containers_, kRates);
  for (int i = 0; i < kSamplePositions; ++i)
    EncodePosition(i);
}

Result<void> SampleSale::BuildRecord(TransactionSigner* signer) {
  return record_
      .BuildTransaction({{}, std::string("Anna"), 2}, items_, containers_, nullptr, signer)
      .Status();
}

Bytes SampleSale::TransactionCommand() const {
  const RecordBuffer& buffer = record_.CommandBuffer();
  const ByteSpan view = buffer.View();
  Bytes command(view.begin(), view.end());
  command.push_back(buffer.Raw()[view.size()]);  // Le
  return command;
}

Result<Bytes> SampleTransactionCommand(const std::filesystem::path& folder) {
  SampleSale sale(folder);
  sale.EncodePositions();
  if (Result<void> built = sale.BuildRecord(); !built) return built.error();
  return sale.TransactionCommand();
}

}  // namespace kasse::bench
