#pragma once
// The scanner window: the customer's phone that reads the QR code off the receipt. While armed
// it shows a live picture around the pointer inside a blinking red frame; a hit reads the code
// the receipt shows, beeps, shows the text and, in mode "Webserver", opens it in the browser.

#include <QImage>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QGroupBox;

namespace kasse {

class Register;

class ScannerWindow : public QWidget {
  Q_OBJECT

 public:
  // True when the browser was asked to open the URL.
  using UrlOpener = std::function<bool(const QUrl&)>;
  using MessageSink = std::function<void(const QString&)>;

  // shownCode: the QR picture the receipt overlay shows now (a null image when none).
  ScannerWindow(Register& reg, std::function<QImage()> shownCode, QWidget* parent = nullptr);

  void Relabel();
  // Arms the window: red frame blinking, live picture running, "Reset" hidden.
  void StartScan();
  // The read; does nothing while not armed, so one arming gives one read.
  void ScanHit();

  bool Armed() const { return armed_; }
  bool WebserverMode() const;
  void SetWebserverMode(bool on);
  QString MemoText() const;
  bool ResetVisible() const;
  bool FrameGreen() const { return frameGreen_; }

  // Seams for the tests: defaults are QDesktopServices::openUrl, QApplication::beep and a
  // warning box.
  void SetUrlOpener(UrlOpener opener) { opener_ = std::move(opener); }
  void SetBeep(std::function<void()> beep) { beep_ = std::move(beep); }
  void SetMessageSink(MessageSink sink) { message_ = std::move(sink); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void LiveTick();
  void BlinkTick();

  Register& reg_;
  std::function<QImage()> shownCode_;
  UrlOpener opener_;
  std::function<void()> beep_;
  MessageSink message_;
  QWidget* frame_ = nullptr;
  QLabel* picture_ = nullptr;
  QGroupBox* panel_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  QGroupBox* verifyGroup_ = nullptr;
  QRadioButton* webButton_ = nullptr;
  QRadioButton* contentButton_ = nullptr;
  QPushButton* resetButton_ = nullptr;
  QTimer liveTimer_;
  QTimer blinkTimer_;
  bool armed_ = false;
  bool frameGreen_ = false;
};

}  // namespace kasse
