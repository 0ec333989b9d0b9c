// The output commands of the batch front-end: the raw job into a file, the PDF and the scan of
// the receipt's QR code, without a display.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "app/batch_runner.h"
#include "app/main/card_choice.h"
#include "common/files.h"
#include "common/tests/support/test_folders.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

using testing::FreshHome;

BatchOptions InHome(const fs::path& home) {
  BatchOptions options;
  options.home = home;
  options.card = [] { return MakeCardBackend(CardOptions{}); };
  return options;
}

struct Batch {
  Batch() : home(FreshHome()), runner(InHome(home), out, err) {}
  int Run(const std::string& script) {
    std::istringstream in(script);
    return runner.Run(in);
  }
  // The non-empty lines written to standard output.
  std::vector<std::string> OutputLines() const {
    std::istringstream text(out.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
      if (!line.empty()) lines.push_back(line);
    return lines;
  }
  fs::path home;
  std::ostringstream out, err;
  BatchRunner runner;
};

constexpr const char* kSale = "select 0\nqty 2\nbook\nsumme\nkassieren\n";

TEST(BatchOutput, RawJobFileHoldsTrimmedReceiptAndPrinterCode) {
  Batch batch;
  const fs::path job = batch.home / "job.bin";
  ASSERT_EQ(batch.Run(std::string(kSale) + "url\nprint-raw " + job.string() + "\n"), kBatchOk)
      << batch.err.str();
  const std::string url = batch.OutputLines().back();
  const Result<std::string> bytes = ReadFile(job);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->rfind("\x1B\x74\x10\x1B\x43\x18", 0), 0u);
  EXPECT_EQ(bytes->substr(bytes->size() - 6), std::string("\x1B\x00\x1D\x56\x41\x00", 6));
  const std::size_t store = bytes->find(url);
  ASSERT_NE(store, std::string::npos);
  EXPECT_EQ(static_cast<unsigned char>((*bytes)[store - 5]), (url.size() + 3) % 256);
  // The five lines kept below the receipt for the picture are not printed.
  const std::size_t codeStart = bytes->find("\x1B\x61\x31");
  ASSERT_GT(codeStart, 4u);
  EXPECT_NE(bytes->substr(codeStart - 4, 4), "\r\n\r\n");
  // The receipt itself loses them too (what `receipt` and save-receipt give from now on),
  // and keeps its QR code below its last line.
  const Sale& sale = batch.runner.Reg()->CurrentSale();
  EXPECT_FALSE(sale.ReceiptLines().back().empty());
  ASSERT_TRUE(sale.QrFirstLine());
  EXPECT_EQ(*sale.QrFirstLine(), sale.ReceiptLines().size());
}

TEST(BatchOutput, ARawJobThatIsNotWrittenLeavesTheReceiptAsItWas) {
  Batch batch;
  const std::string unwritable = (batch.home / "no" / "such" / "folder" / "job.bin").string();
  EXPECT_EQ(batch.Run(std::string(kSale) + "print-raw " + unwritable + "\n"), kBatchFailed);
  const std::vector<std::string>& lines = batch.runner.Reg()->CurrentSale().ReceiptLines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_TRUE(std::all_of(lines.end() - 5, lines.end(),
                          [](const std::string& line) { return line.empty(); }));
}

TEST(BatchOutput, ScanReadsBackTheUrlWithoutADisplay) {
  Batch batch;
  ASSERT_EQ(batch.Run(std::string(kSale) + "url\nscan\n"), kBatchOk) << batch.err.str();
  const std::vector<std::string> lines = batch.OutputLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), lines[lines.size() - 2]);
  EXPECT_EQ(lines.back().rfind("http://", 0), 0u);
  EXPECT_NE(QCoreApplication::instance(), nullptr);

  Batch fresh;
  EXPECT_EQ(fresh.Run("scan\n"), kBatchFailed);  // no cash-in, no code
  EXPECT_NE(fresh.err.str().find("no QR code"), std::string::npos);
}

TEST(BatchOutput, PdfIsWrittenAndBadArgumentsAreRefused) {
  Batch batch;
  const fs::path pdf = batch.home / "beleg.pdf";
  ASSERT_EQ(batch.Run(std::string(kSale) + "print-pdf " + pdf.string() + "\n"), kBatchOk)
      << batch.err.str();
  const Result<std::string> bytes = ReadFile(pdf);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->rfind("%PDF", 0), 0u);
  EXPECT_EQ(batch.Run("print-pdf\nprint-raw a b\nscan now\n"), kBatchFailed);
  const std::string errors = batch.err.str();
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 3) << errors;
}

TEST(BatchOutput, MissingRawQueueIsNamed) {
  Batch batch;
  ASSERT_TRUE(
      WriteFileAtomic(batch.home / "cfg" / "start.ini", "[Print]\nrawQueue=KasseNoSuchQueue\n"));
  ::setenv("CUPS_SERVER", "127.0.0.1:1", 1);  // nothing listens there
  EXPECT_EQ(batch.Run(std::string(kSale) + "print-raw\n"), kBatchFailed);
  EXPECT_NE(batch.err.str().find("\"KasseNoSuchQueue\""), std::string::npos) << batch.err.str();
  // No printer, no trimming: the room for the QR code stays.
  EXPECT_TRUE(batch.runner.Reg()->CurrentSale().ReceiptLines().back().empty());
}

}  // namespace
}  // namespace kasse
