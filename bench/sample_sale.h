#pragma once
// A register in miniature for the benchmarks: the record builder, its journal in a folder of
// its own and a sale of five positions, so that the benchmarks and the card floor send the
// same TRANSACTION command the register sends for such a sale.

#include <filesystem>
#include <memory>

#include "common/app_clock.h"
#include "common/bytes.h"
#include "common/language_texts.h"
#include "journal/journal.h"
#include "monitor/function_monitor.h"
#include "protocol/item_list.h"
#include "protocol/transaction_record.h"
#include "protocol/vat_container.h"

namespace kasse::bench {

// Bread rolls 2 x 0.45, coffee 3.20, apples 2 kg x 2.99, wine 10.00 and newspapers 3 x 2.50,
// in containers 1 (19 %) and 2 (7 %), by operator "Anna" on 2026-05-12 at 09:30.
inline constexpr int kSamplePositions = 5;

class SampleSale {
 public:
  // The journal pair goes to folder/Journal; texts come from the language file when given.
  explicit SampleSale(const std::filesystem::path& folder,
                      const std::filesystem::path& languageFile = {});
  SampleSale(const SampleSale&) = delete;
  SampleSale& operator=(const SampleSale&) = delete;

  // A fresh item list with the five positions encoded.
  void EncodePositions();
  // One position, into the list as it stands.
  void EncodePosition(int index);
  // The record of the encoded sale without the card (its journal writes included).
  Result<void> BuildRecord(TransactionSigner* signer = nullptr);
  // The TRANSACTION APDU of the last record: header, Lc, data and Le.
  Bytes TransactionCommand() const;

  TransactionRecord& Record() { return record_; }
  Journal& JournalFiles() { return journal_; }
  FunctionMonitor& Monitor() { return monitor_; }
  const LanguageTexts& Texts() const { return texts_; }

 private:
  FunctionMonitor monitor_;
  LanguageTexts texts_;
  Journal journal_;
  AppClock clock_;
  TransactionRecord record_;
  ItemList items_;
  VatContainers containers_;
};

// The same command, built once in a scratch folder below `folder`.
Result<Bytes> SampleTransactionCommand(const std::filesystem::path& folder);

}  // namespace kasse::bench
