#pragma once
// The receipt "Beleg": the sale's receipt lines in a monospace, read-only text field in the
// receipt colour, with the QR code of the last cash-in drawn over the empty lines left for it.

#include <QPlainTextEdit>
#include <optional>
#include <string>

class QLabel;

namespace kasse {

class Sale;

class ReceiptView : public QPlainTextEdit {
  Q_OBJECT

 public:
  static constexpr int kColumns = 42;

  explicit ReceiptView(QWidget* parent);

  // Shows the sale's lines and colour when they changed (the caret then goes to the end, where
  // the next line is written); the QR code of `verifyUrl` stands at the sale's QR line.
  void ShowSale(const Sale& sale, const std::string& verifyUrl, bool showQr);
  // The receipt line of the caret.
  std::size_t CaretLine() const;
  // The QR picture now shown over the receipt, or a null image.
  QImage ShownCode() const;
  bool CodeVisible() const;
  QLabel* CodeOverlay() const { return overlay_; }

 signals:
  void lineClicked(std::size_t line);
  // The pointer moved over the middle of the QR code (where a scanner would aim).
  void codeAimed();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceCode();

  QLabel* overlay_;
  QImage code_;
  std::string codeUrl_;
  QString shownText_;
  std::uint32_t shownColour_ = 0;
  std::optional<std::size_t> codeLine_;
  std::size_t receiptLines_ = 0;
};

}  // namespace kasse
