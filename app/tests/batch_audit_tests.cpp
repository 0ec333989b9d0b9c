// Journals the register made itself, audited: a card put back from a backup whose repeated
// number the register refused, and records a full disk kept from the journal until the next
// start wrote them into a pair of their own.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "app/tests/batch_on_one_disk.h"
#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "register/tests/sim_card.h"
#include "verify/journal_audit.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSale = "select 0\nbook\nsumme\nkassieren\n";

struct AuditedBatch : testing::BatchOnOneDisk {
  int Sales(int count) {
    std::string script;
    for (int i = 0; i < count; ++i)
      script += kSale;
    return Run(script);
  }
  AuditReport Audit() const { return AuditFiles(JournalPairs(home)); }
};

TEST(BatchAudit, ACardPutBackFromABackupLeavesOneFindingForTheAnswerTheRegisterRefused) {
  AuditedBatch batch;
  ASSERT_EQ(batch.Sales(2), kBatchOk) << batch.err.str();
  fs::copy(batch.state, batch.home / "state.bak", fs::copy_options::recursive);
  ASSERT_EQ(batch.Sales(2), kBatchOk) << batch.err.str();
  fs::remove_all(batch.state);
  fs::rename(batch.home / "state.bak", batch.state);
  EXPECT_EQ(batch.Sales(1), kBatchCardError);
  EXPECT_NE(batch.err.str().find("the card answered number 3, but 3 was already journalled"),
            std::string::npos)
      << batch.err.str();

  const AuditReport report = batch.Audit();
  const std::string text = AuditText(report);
  ASSERT_EQ(report.findings.size(), 1u) << text;
  EXPECT_NE(report.findings[0].text.find("transaction 3 of card QOR-SIM 1: the card answered this "
                                         "number a second time and the register refused the "
                                         "answer"),
            std::string::npos)
      << text;
  // The number's own record, in the second run's pair.
  const auto pairs = JournalPairs(batch.home);
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(report.findings[0].file, pairs[2].first.filename().string());
  EXPECT_NE(text.find("the number's record is in " + pairs[1].first.filename().string() + " @"),
            std::string::npos)
      << text;
  EXPECT_EQ(report.transactions, 4u);
  EXPECT_EQ(report.signaturesChecked, 4u);
  EXPECT_EQ(report.rejections, 1u);
}

// Journal writes holding `marker` fail with a full disk until the run ends.
void FailWritesOf(testing::FaultyFileIo& io, std::string marker) {
  io.writeFault = [marker = std::move(marker)](int, std::string_view data) {
    const bool hit = data.find(marker) != std::string_view::npos;
    return hit && !data.starts_with("kasse-rescue") ? ENOSPC : 0;
  };
}

TEST(BatchAudit, ARecordRescuedIntoANewPairIsOneRecordAndAnswersItsRequest) {
  // Which of the answer's writes the disk refused: the S file's (the first pair keeps the
  // request alone) or the L file's (the first pair keeps the whole S record, written again).
  for (const char* marker : {"<transactionResponse>", "<seqNoTransaction>"}) {
    SCOPED_TRACE(marker);
    AuditedBatch batch;
    ASSERT_EQ(batch.Sales(1), kBatchOk) << batch.err.str();
    FailWritesOf(batch.io, marker);
    EXPECT_EQ(batch.Sales(1), kBatchRecordsRescued) << batch.err.str();
    batch.io.Heal();
    ASSERT_EQ(batch.Sales(1), kBatchOk) << batch.err.str();
    EXPECT_NE(batch.err.str().find("were written to the journal"), std::string::npos);

    const AuditReport report = batch.Audit();
    const std::string text = AuditText(report);
    // Only what the end of the second run explains: its pair is cut off.
    for (const AuditFinding& finding : report.findings)
      EXPECT_TRUE(finding.text.find("record cut off") != std::string::npos ||
                  finding.text.find("no closing tag") != std::string::npos)
          << text;
    EXPECT_EQ(text.find("repeated"), std::string::npos) << text;
    EXPECT_EQ(text.find("without an answer"), std::string::npos) << text;
    EXPECT_EQ(report.transactions, 3u) << text;
    EXPECT_EQ(report.signaturesChecked, 3u) << text;
  }
}

}  // namespace
}  // namespace kasse
