// The hidden menu entries "XML-Export  Neu" and "XML-Export Öffnen": the file dialog, then the
// register's export operation.

#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QTimer>

#include "common/files.h"
#include "common/tests/support/text_checks.h"
#include "ui/tests/main_window_fixture.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;
using testing::Till;

// Answers the XMLOpenDialog that the entry opens with `file`, or cancels it when empty.
void AnswerExportDialog(const fs::path& file) {
  QTimer::singleShot(0, [file] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->objectName(), QStringLiteral("XMLOpenDialog"));
    if (file.empty()) return dialog->reject();
    dialog->selectFile(QString::fromStdString(file.string()));
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own, which takes the name
  });
}

TEST(MainWindowExport, HiddenEntriesAttachTheExportPairThroughTheDialog) {
  Till till;
  ASSERT_TRUE(till.started);
  ASSERT_TRUE(till.reg->BookProduct(0, "1"));
  ASSERT_TRUE(till.reg->Summe());
  ASSERT_TRUE(till.reg->Kassieren());
  auto* exportNew = till.window->findChild<QAction*>(QStringLiteral("XMLExportNeu1"));
  auto* exportOpen = till.window->findChild<QAction*>(QStringLiteral("XMLExportffnen1"));
  ASSERT_NE(exportNew, nullptr);
  ASSERT_NE(exportOpen, nullptr);
  EXPECT_FALSE(exportNew->isVisible());

  const fs::path lFile = till.home / "Export" / "tagL.xml";
  AnswerExportDialog({});
  exportNew->trigger();
  EXPECT_FALSE(fs::exists(lFile));

  // A typed name without its extension gets ".xml".
  AnswerExportDialog(till.home / "Export" / "tag");
  exportNew->trigger();
  ASSERT_TRUE(fs::exists(lFile));
  EXPECT_NE(ReadFile(lFile).value().find("<seqNoTransaction>1<"), std::string::npos);

  AnswerExportDialog(till.home / "Export" / "tag.xml");
  exportOpen->trigger();
  ASSERT_TRUE(till.reg->BookProduct(0, "1"));
  ASSERT_TRUE(till.reg->Summe());
  ASSERT_TRUE(till.reg->Kassieren());
  (void)till.reg->EndRun();
  EXPECT_NE(ReadFile(lFile).value().find("<seqNoTransaction>2<"), std::string::npos);
  EXPECT_TRUE(testing::WellFormedXml(lFile));
}

}  // namespace
}  // namespace kasse
