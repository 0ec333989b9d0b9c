#pragma once
// A sale over real item list and containers, German texts, and a recording cash-in.

#include <filesystem>

#include "common/ini_file.h"
#include "monitor/function_monitor.h"
#include "register/sale.h"

namespace kasse::sale_test {

// The register's part of a cash-in around a card that signs at once: the VAT table, the hash
// text, a fixed answer text, the end of the sale and the room for the QR code when shown.
class RecordingCashIn {
 public:
  explicit RecordingCashIn(Sale& sale) : sale_(sale) {}
  Result<void> CashIn() {
    Result<RecordFlags> flags = sale_.BeginCashIn();
    if (!flags) return flags.error();
    ++transactions;
    lastTraining = flags->Has(RecordFlag::kTraining);
    lastExclusive = flags->Has(RecordFlag::kVatAddon);
    sale_.AppendHashText(Bytes(20, 0x00), false);
    sale_.AppendText("\r\nDatum: \t\t2026-05-12");
    sale_.CloseCashIn();
    if (sale_.settings.showQrCode) sale_.AppendQrSpace();
    return {};
  }

  int transactions = 0;
  bool lastTraining = false, lastExclusive = false;

 private:
  Sale& sale_;
};

inline BookingPosition Product(std::string name, std::int32_t price1, double quantity = 1.0,
                               std::string unit = "") {
  BookingPosition position;
  position.name = std::move(name);
  position.unit = std::move(unit);
  position.price[0] = price1;
  position.qnt = quantity;
  return position;
}

struct SaleFixture : ::testing::Test {
  SaleFixture() {
    texts.Load(IniFile::Parse("[Deutsch]\n2txt=Netto\n4txt=Satz\n5txt=Brutto\n6txt=MwSt\n"
                              "7txt=Hash:\n8txt=Signatur:\n9txt=keine Signatur\n10txt=Summe\n"
                              "11txt=Abbruch\n12txt=KASSENBON\n"),
               "Deutsch");
    sale.ResetReceipt();
  }
  Result<void> CashIn() { return cashIn.CashIn(); }
  std::string Line(std::size_t index) const { return sale.ReceiptLines().at(index); }
  std::string LastLine() const { return sale.ReceiptLines().back(); }
  std::size_t LineCount() const { return sale.ReceiptLines().size(); }

  RegisterConfig config{std::filesystem::path("/nonexistent")};
  LanguageTexts texts;
  FunctionMonitor monitor;
  ItemList itemList{monitor, texts};
  VatContainers containers;
  Sale sale{config, texts, itemList, containers};
  RecordingCashIn cashIn{sale};
};

}  // namespace kasse::sale_test
