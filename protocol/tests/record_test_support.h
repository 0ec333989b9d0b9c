#pragma once
// A register in miniature for record tests: a journal in a fresh folder, a clock standing at
// 2026-05-12 09:30, German record texts and empty containers.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/app_clock.h"
#include "common/files.h"
#include "common/language_texts.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "journal/journal.h"
#include "monitor/function_monitor.h"
#include "protocol/item_list.h"
#include "protocol/transaction_record.h"
#include "protocol/vat_container.h"

namespace kasse::testing {

inline LanguageTexts GermanRecordTexts() {
  LanguageTexts texts;
  texts.Load(IniFile::Parse("[Deutsch]\n25txt=Datum\n26txt=Zeit\n27txt=Bediener\n"
                            "28txt=W\xE4hrung\n29txt=Nettopreise\n30txt=Training\n"
                            "35txt=Transaktion\n82txt=Lieferschein\n"),
             "Deutsch");
  return texts;
}

struct RecordFixture : ::testing::Test {
  std::filesystem::path home = FreshFolder();
  FunctionMonitor monitor;
  LanguageTexts texts = GermanRecordTexts();
  FaultyFileIo io;  // passes every call through until a test sets a fault
  Journal journal{home, [] { return std::string("260512"); }, io};
  AppClock clock{[] { return ToAppDateTime({2026, 5, 12, 9, 30, 12, 0}); }};
  TransactionRecord record{monitor, texts, journal, clock};
  ItemList items{monitor, texts};
  VatContainers containers;

  Result<void> Build(RecordFlags flags = {}, int versionLevel = 2,
                     std::string operatorName = "ich") {
    return record
        .BuildTransaction({flags, operatorName, versionLevel}, items, containers, nullptr, nullptr)
        .Status();
  }
  std::string LFile() { return ReadFile(journal.LName()).value(); }
  std::string SFile() { return ReadFile(journal.SName()).value(); }
};

}  // namespace kasse::testing
