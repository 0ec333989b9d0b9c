// A batch run whose journal cannot take the card's answer: nothing of the signed sale is
// printed before its record is written, the record is written as soon as the disk takes it,
// and a run that ends first rescues it and says so in its exit status.

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "app/tests/batch_on_one_disk.h"
#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "common/tests/support/text_checks.h"
#include "register/tests/sim_card.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSaleAndOutputs = "select 0\nbook\nsumme\nkassieren\nurl\nreceipt\n";

struct JournalBatch : testing::BatchOnOneDisk {
  std::string Journals(const char* ending) {
    std::string text;
    for (const auto& entry : fs::directory_iterator(home / "Journal"))
      if (entry.path().filename().string().ends_with(ending))
        text += ReadFile(entry.path()).value();
    return text;
  }
};

// Journal writes of the card's answer fail `times` times with a full disk.
void FailAnswers(testing::FaultyFileIo& io, int times) {
  io.writeFault = [left = times](int, std::string_view data) mutable {
    const bool answer = data.find("<transactionResponse>") != std::string_view::npos ||
                        data.find("<seqNoTransaction>") != std::string_view::npos;
    if (!answer || data.starts_with("kasse-rescue") || left == 0) return 0;
    --left;
    return ENOSPC;
  };
}

TEST(BatchJournal, NeitherUrlNorSignatureOfASaleLeavesBeforeItsRecord) {
  JournalBatch batch;
  FailAnswers(batch.io, 1000);
  EXPECT_EQ(batch.Run(std::string(kSaleAndOutputs) + "print-raw job.bin\nsave-receipt r.txt\n"),
            kBatchRecordsRescued);
  const std::string err = batch.err.str();
  EXPECT_NE(err.find("line 4: The sale is signed"), std::string::npos) << err;
  for (const char* line :
       {"line 5: The journal record", "line 7: The journal record", "line 8: The journal record"})
    EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
  const std::string out = batch.out.str();
  EXPECT_EQ(out.find("verify.php"), std::string::npos) << out;
  EXPECT_EQ(out.find("Transaktionsnummer"), std::string::npos) << out;
  EXPECT_NE(out.find("### Beleg wartet auf das Journal ###"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists("job.bin"));
  EXPECT_FALSE(fs::exists("r.txt"));
}

TEST(BatchJournal, ARecordTheDiskNeverTookIsRescuedWrittenAtTheNextStartAndCounted) {
  JournalBatch batch;
  FailAnswers(batch.io, 1000);
  EXPECT_EQ(batch.Run(kSaleAndOutputs), kBatchRecordsRescued);
  EXPECT_EQ(batch.out.str().find("verify.php"), std::string::npos);
  const std::string err = batch.err.str();
  EXPECT_NE(err.find("it was saved in " + (batch.state / "rescue").string()), std::string::npos)
      << err;
  EXPECT_EQ(testing::Occurrences(batch.Journals("S.xml"), "<transactionResponse>"), 0u);

  batch.io.Heal();
  EXPECT_EQ(batch.Run("select 0\nbook\nsumme\nkassieren\n"), kBatchOk) << batch.err.str();
  EXPECT_NE(batch.err.str().find("were written to the journal"), std::string::npos);
  EXPECT_EQ(testing::Occurrences(batch.Journals("S.xml"), "<transactionResponse>"), 2u);
  EXPECT_EQ(testing::Occurrences(batch.Journals("L.xml"), "<seqNoTransaction>1<"), 1u);
  EXPECT_EQ(testing::Occurrences(batch.Journals("L.xml"), "<seqNoTransaction>2<"), 1u);
}

TEST(BatchJournal, ARecordThatCannotEvenBeRescuedGoesToStandardErrorWithItsOwnStatus) {
  JournalBatch batch;
  fs::create_directories(batch.state);
  ASSERT_TRUE(WriteFileAtomic(batch.state / "rescue", "in the way"));
  FailAnswers(batch.io, 1000);
  EXPECT_EQ(batch.Run(kSaleAndOutputs), kBatchRecordsLost);
  const std::string err = batch.err.str();
  EXPECT_NE(err.find("Keep the lines below"), std::string::npos) << err;
  EXPECT_NE(err.find("\nrequest: "), std::string::npos) << err;
  EXPECT_NE(err.find("\nanswer: "), std::string::npos) << err;
}

}  // namespace
}  // namespace kasse
