#include "ui/receipt_view.h"

#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>

#include "picture/qr_image.h"
#include "register/sale.h"
#include "ui/captions.h"
#include "ui/look.h"

namespace kasse {

ReceiptView::ReceiptView(QWidget* parent)
    : QPlainTextEdit(parent), overlay_(new QLabel(viewport())) {
  setObjectName(QStringLiteral("BelegMemo"));
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPointSize(10);
  setFont(font);
  const QFontMetrics metrics(font);
  setTabStopDistance(8 * metrics.horizontalAdvance(QLatin1Char(' ')));
  setMinimumWidth(metrics.horizontalAdvance(QString(kColumns + 2, QLatin1Char('0'))) +
                  verticalScrollBar()->sizeHint().width() + 2 * frameWidth() + 8);
  overlay_->hide();
  overlay_->setMouseTracking(true);
  overlay_->installEventFilter(this);
}

void ReceiptView::ShowSale(const Sale& sale, const std::string& verifyUrl, bool showQr) {
  QStringList lines;
  for (const std::string& line : sale.ReceiptLines())
    lines << FromCore(line);
  receiptLines_ = sale.ReceiptLines().size();
  const std::optional<std::size_t> codeLine = showQr ? sale.QrFirstLine() : std::nullopt;
  if (!codeLine) {
    code_ = QImage();
    codeUrl_.clear();
  } else if (verifyUrl != codeUrl_) {
    code_ = QrCodeImage(verifyUrl);
    codeUrl_ = verifyUrl;
  }
  // Empty lines below the receipt so that the whole code can be scrolled into view.
  if (codeLine && !code_.isNull()) {
    const int lineHeight = std::max(1, fontMetrics().lineSpacing());
    const auto needed = static_cast<std::size_t>(code_.height() / lineHeight + 2);
    for (std::size_t below = receiptLines_ - std::min(*codeLine, receiptLines_); below < needed;
         ++below)
      lines << QString();
  }
  const QString text = lines.join(QLatin1Char('\n'));
  if (text != shownText_ || sale.ReceiptColour() != shownColour_ || codeLine != codeLine_) {
    shownText_ = text;
    shownColour_ = sale.ReceiptColour();
    codeLine_ = codeLine;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, BgrColour(shownColour_));
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
    setPlainText(text);
    QTextCursor end = textCursor();
    end.movePosition(QTextCursor::End);
    if (codeLine_) end = QTextCursor(document()->findBlockByNumber(int(receiptLines_) - 1));
    end.movePosition(QTextCursor::EndOfBlock);
    setTextCursor(end);
    if (codeLine_) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    overlay_->setPixmap(QPixmap::fromImage(code_));
    overlay_->resize(code_.size());
  }
  PlaceCode();
}

std::size_t ReceiptView::CaretLine() const {
  const auto block = static_cast<std::size_t>(std::max(0, textCursor().blockNumber()));
  // A caret in the room below the receipt counts as after the last line.
  return std::min(block, receiptLines_);
}

QImage ReceiptView::ShownCode() const {
  return CodeVisible() ? code_ : QImage();
}

bool ReceiptView::CodeVisible() const {
  return !overlay_->isHidden();
}

void ReceiptView::PlaceCode() {
  if (!codeLine_ || code_.isNull()) {
    overlay_->hide();
    return;
  }
  const QTextBlock block = document()->findBlockByNumber(static_cast<int>(*codeLine_));
  if (!block.isValid()) {
    overlay_->hide();
    return;
  }
  // Glued to its receipt line: it moves with the text and is cut at the field's border.
  const QRectF line = blockBoundingGeometry(block).translated(contentOffset());
  const int textWidth = fontMetrics().horizontalAdvance(QString(kColumns, QLatin1Char('0')));
  const int left = std::max(0, (textWidth - code_.width()) / 2) - horizontalScrollBar()->value() +
                   int(document()->documentMargin());
  overlay_->move(left, static_cast<int>(line.top()));
  overlay_->show();
}

void ReceiptView::mouseReleaseEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseReleaseEvent(event);
  emit lineClicked(CaretLine());
}

void ReceiptView::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  PlaceCode();
}

bool ReceiptView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == overlay_ && event->type() == QEvent::MouseMove) {
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    const int third = overlay_->height() / 3;
    if (third < at.x() && at.x() < overlay_->height() - third && third < at.y() &&
        at.y() < overlay_->height() - third)
      emit codeAimed();
  }
  return QPlainTextEdit::eventFilter(watched, event);
}

void ReceiptView::scrollContentsBy(int dx, int dy) {
  QPlainTextEdit::scrollContentsBy(dx, dy);
  PlaceCode();
}

}  // namespace kasse
