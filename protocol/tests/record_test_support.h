#pragma once
// A register in miniature for record tests: a journal in a fresh folder, a clock standing at
// 2026-05-12 09:30, German record texts and empty containers.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/language_texts.h"
#include "common/tests/faulty_file_io.h"
#include "journal/journal.h"
#include "monitor/function_monitor.h"
#include "protocol/item_list.h"
#include "protocol/transaction_record.h"
#include "protocol/vat_container.h"
#include "receipt/app_clock.h"

namespace kasse::testing {

inline std::filesystem::path FreshFolder(const std::string& name) {
  const auto folder = std::filesystem::path(::testing::TempDir()) / ("kasse_b_" + name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

inline LanguageTexts GermanRecordTexts() {
  LanguageTexts texts;
  texts.Load(IniFile::Parse("[Deutsch]\n25txt=Datum\n26txt=Zeit\n27txt=Bediener\n"
                            "28txt=W\xE4hrung\n29txt=Nettopreise\n30txt=Training\n"
                            "35txt=Transaktion\n82txt=Lieferschein\n"),
             "Deutsch");
  return texts;
}

// xmllint over a text: true when it is well-formed XML.
inline bool WellFormed(const std::string& text, const std::filesystem::path& scratch) {
  if (!WriteFileAtomic(scratch, text)) return false;
  const std::string command = "xmllint --noout '" + scratch.string() + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

struct RecordFixture : ::testing::Test {
  std::filesystem::path home =
      FreshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
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
    return record.BuildTransaction({flags, operatorName, versionLevel}, items, containers, nullptr,
                                   nullptr);
  }
  std::string LFile() { return ReadFile(journal.LName()).value(); }
  std::string SFile() { return ReadFile(journal.SName()).value(); }
};

}  // namespace kasse::testing
