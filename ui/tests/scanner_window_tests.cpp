// The scanner window: where its live picture looks, and how arming, reading and opening go.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "picture/qr_image.h"
#include "register/register.h"
#include "register/tests/sim_card.h"
#include "ui/scanner_geometry.h"
#include "ui/scanner_window.h"
#include "ui/tests/ui_test_support.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

using testing::EnsureApp;

const QRect kScreen(0, 0, 1920, 1080);
const QSize kPicture(86, 86);  // source 43 × 43

TEST(ScannerGeometry, SourceIsCentredOnThePointerInsideTheScreen) {
  EXPECT_EQ(ScanSourceRect(QPoint(500, 400), kPicture, kScreen), QRect(478, 378, 43, 43));
}

TEST(ScannerGeometry, SourceIsShiftedBackAtEachScreenEdge) {
  EXPECT_EQ(ScanSourceRect(QPoint(3, 2), kPicture, kScreen).topLeft(), QPoint(0, 0));
  EXPECT_EQ(ScanSourceRect(QPoint(1919, 500), kPicture, kScreen).right(), 1919);
  EXPECT_EQ(ScanSourceRect(QPoint(700, 1079), kPicture, kScreen).bottom(), 1079);
  EXPECT_EQ(ScanSourceRect(QPoint(1919, 1079), kPicture, kScreen), QRect(1877, 1037, 43, 43));
  // A second screen right of the first: its own edges count.
  const QRect right(1920, 0, 1280, 1024);
  EXPECT_EQ(ScanSourceRect(QPoint(1921, 10), kPicture, right).topLeft(), QPoint(1920, 0));
  // The size never shrinks, even on a screen smaller than the source.
  EXPECT_EQ(ScanSourceRect(QPoint(5, 5), kPicture, QRect(0, 0, 20, 20)).size(), QSize(43, 43));
}

TEST(ScannerGeometry, CrosshairCentredUnlessTheEdgeMovedTheSource) {
  const QPoint pointer(500, 400);
  const auto centred =
      CrosshairLines(pointer, ScanSourceRect(pointer, kPicture, kScreen), kPicture);
  EXPECT_EQ(centred[0], QLine(23, 44, 65, 44));
  EXPECT_EQ(centred[1], QLine(44, 23, 44, 65));
  const QPoint corner(0, 0);
  const auto shifted = CrosshairLines(corner, ScanSourceRect(corner, kPicture, kScreen), kPicture);
  EXPECT_EQ(shifted[0].y1(), 0);
  EXPECT_EQ(shifted[1].x1(), 0);
}

TEST(ScannerGeometry, TheWindowOpensBesideTheMainWindowButInsideTheScreen) {
  const QSize scanner(400, 300);
  // Room to the right: 50 pixels beside the main window, half-way down it.
  EXPECT_EQ(ScannerWindowPlace(QRect(10, 20, 800, 600), scanner, kScreen), QPoint(860, 320));
  // A main window that fills the screen: pushed back to the right and the bottom edges.
  EXPECT_EQ(ScannerWindowPlace(kScreen, scanner, kScreen), QPoint(1520, 540));
  EXPECT_EQ(ScannerWindowPlace(QRect(100, 700, 600, 380), scanner, kScreen), QPoint(750, 780));
  // On the second screen, its own edges count.
  const QRect right(1920, 0, 1280, 1024);
  EXPECT_EQ(ScannerWindowPlace(QRect(2000, 0, 1200, 1000), scanner, right), QPoint(2800, 500));
  // A scanner larger than the screen keeps its top-left corner on it.
  EXPECT_EQ(ScannerWindowPlace(kScreen, QSize(2000, 1200), kScreen), QPoint(0, 0));
}

TEST(ScannerGeometry, OnlyTheMiddleThirdOfTheOverlayReads) {
  EXPECT_TRUE(InScanZone(QPoint(30, 30), 60));
  EXPECT_FALSE(InScanZone(QPoint(20, 30), 60));  // on the border of the middle third
  EXPECT_FALSE(InScanZone(QPoint(30, 40), 60));
  EXPECT_FALSE(InScanZone(QPoint(5, 5), 60));
  EXPECT_FALSE(InScanZone(QPoint(0, 0), 0));
}

class Scanner : public ::testing::Test {
 protected:
  Scanner()
      : home_(FreshHome()),
        reg_(Options(home_), testing::UserSimCard()),
        window_(reg_, [this] { return shown_; }) {
    window_.SetUrlOpener([this](const QUrl& url) {
      opened_.push_back(url.toString());
      return openerWorks_;
    });
    window_.SetBeep([this] { ++beeps_; });
    window_.SetMessageSink([this](const QString& text) { messages_.push_back(text); });
    // Its messages come from the language file.
    EXPECT_TRUE(reg_.SetLanguage("Deutsch"));
  }

  static fs::path FreshHome() {
    EnsureApp();
    return testing::FreshHome();
  }
  static RegisterOptions Options(const fs::path& home) {
    RegisterOptions options;
    options.home = home;
    return options;
  }

  const QString url_ = QStringLiteral("http://127.0.0.1:8080/verify.php?t1=AAEC-_==");
  fs::path home_;
  Register reg_;
  ScannerWindow window_;
  QImage shown_ = QrCodeImage(url_.toStdString());
  std::vector<QString> opened_;
  std::vector<QString> messages_;
  int beeps_ = 0;
  bool openerWorks_ = true;
};

TEST_F(Scanner, OneReadPerArmingAndResetArmsAgain) {
  EXPECT_FALSE(window_.Armed());
  window_.ScanHit();
  EXPECT_EQ(beeps_, 0);  // not armed yet
  window_.StartScan();
  EXPECT_TRUE(window_.Armed());
  EXPECT_FALSE(window_.ResetVisible());
  window_.ScanHit();
  EXPECT_FALSE(window_.Armed());
  EXPECT_TRUE(window_.FrameGreen());
  EXPECT_EQ(window_.MemoText(), url_);
  EXPECT_EQ(opened_, std::vector<QString>{url_});
  window_.ScanHit();
  EXPECT_EQ(opened_.size(), 1u);
  EXPECT_EQ(beeps_, 1);
  ASSERT_TRUE(window_.ResetVisible());
  auto* reset = window_.findChild<QPushButton*>();
  ASSERT_NE(reset, nullptr);
  QTest::mouseClick(reset, Qt::LeftButton);
  EXPECT_TRUE(window_.Armed());
  EXPECT_FALSE(window_.FrameGreen());
  window_.ScanHit();
  EXPECT_EQ(opened_.size(), 2u);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Scanner, ContentOnlyShowsWithoutOpening) {
  window_.SetWebserverMode(false);
  window_.StartScan();
  window_.ScanHit();
  EXPECT_EQ(window_.MemoText(), url_);
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Scanner, FailingBrowserShowsTheMessageAndKeepsTheRead) {
  openerWorks_ = false;
  window_.StartScan();
  window_.ScanHit();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QStringLiteral("Internetseite konnte nicht ge\u00F6ffnet werden!"));
  EXPECT_EQ(window_.MemoText(), url_);
  EXPECT_TRUE(window_.FrameGreen());
}

TEST_F(Scanner, NothingReadableOpensNothing) {
  shown_ = QImage();
  window_.StartScan();
  window_.ScanHit();
  EXPECT_EQ(window_.MemoText(), QStringLiteral("Kein QR-Code lesbar"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(window_.ResetVisible());
}

TEST_F(Scanner, OnlyWebLinksGoToTheBrowser) {
  shown_ = QrCodeImage("file:///etc/passwd");
  window_.StartScan();
  window_.ScanHit();
  EXPECT_EQ(window_.MemoText(), QStringLiteral("file:///etc/passwd"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(Scanner, ClosingDisarms) {
  window_.show();
  window_.StartScan();
  window_.close();
  EXPECT_FALSE(window_.Armed());
  window_.ScanHit();
  EXPECT_EQ(beeps_, 0);
}

}  // namespace
}  // namespace kasse
