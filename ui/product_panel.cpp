#include "ui/product_panel.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollBar>

#include "register/register.h"
#include "ui/look.h"

namespace kasse {

namespace {

constexpr int kQuantityWidth = 52;
constexpr int kPriceWidth = 64;
constexpr int kGap = 4;

bool IsEnter(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter;
}

}  // namespace

ProductPanel::ProductPanel(Register& reg, QWidget* parent)
    : QWidget(parent),
      reg_(reg),
      list_(new QListWidget(this)),
      quantity_(new QLineEdit(QStringLiteral("1"), this)),
      price_(new QLabel(this)),
      cent_(new QLabel(QStringLiteral("Cent"), this)),
      unit_(new QLabel(QStringLiteral("Stk."), this)),
      menu_(new QMenu(this)) {
  list_->setObjectName(QStringLiteral("ProdListSel"));
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setMouseTracking(true);
  list_->viewport()->setMouseTracking(true);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);
  quantity_->setObjectName(QStringLiteral("StkMemo"));
  quantity_->setAlignment(Qt::AlignRight);
  quantity_->installEventFilter(this);
  price_->setObjectName(QStringLiteral("PreisEdit"));
  price_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  price_->setFrameShape(QFrame::Panel);
  price_->setFrameShadow(QFrame::Sunken);
  StylePanel(*price_, kPanelColour);
  unit_->setObjectName(QStringLiteral("EinhLabel"));
  unit_->setAlignment(Qt::AlignRight);
  setMinimumWidth(260);

  auto entry = [this](int tag, const char* text, auto slot) {
    QAction* action = menu_->addAction(QString::fromUtf8(text));
    connect(action, &QAction::triggered, this, slot);
    captions_.Add(action, tag);
  };
  entry(64, "Löschen", [this] { emit deleteRequested(SelectedIndex()); });
  entry(62, "Speichern", [this] { emit saveRequested(); });
  entry(63, "Speichern unter", [this] { emit saveAsRequested(); });
  entry(61, "Laden", [this] { emit loadRequested(); });
  entry(65, "Editiere Buchungsposition", [this] { emit editRequested(shownIndex_); });
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->popup(list_->viewport()->mapToGlobal(at)); });
  connect(list_, &QListWidget::currentRowChanged, this, &ProductPanel::ShowEntry);
  connect(list_->verticalScrollBar(), &QScrollBar::valueChanged, this, &ProductPanel::PlaceFields);
  SetFocusTint(*list_, false);
  SetFocusTint(*quantity_, false);
}

void ProductPanel::Relabel() {
  captions_.Apply(reg_.Texts());
}

void ProductPanel::Reload() {
  const QSignalBlocker quiet(list_);
  list_->clear();
  for (const TProd& product : reg_.Products().Products())
    list_->addItem(FromCore(product.name));
  shownIndex_ = -1;
  hoverIndex_ = -1;
  hoverX_ = -1;
  list_->setCurrentRow(list_->count() > 0 ? 0 : -1);
  ShowEntry(list_->currentRow());
  PlaceFields();
}

int ProductPanel::SelectedIndex() const {
  return list_->currentRow();
}

void ProductPanel::Select(int index) {
  list_->setCurrentRow(index);
}

std::string ProductPanel::QuantityText() const {
  return ToCore(quantity_->text());
}

void ProductPanel::ShowEntry(int index) {
  const auto& products = reg_.Products().Products();
  if (index != shownIndex_ && index >= 0 && static_cast<std::size_t>(index) < products.size()) {
    const TProd& product = products[static_cast<std::size_t>(index)];
    price_->setText(QString::number(product.UnitPrice()));
    unit_->setText(FromCore(product.unit));
    quantity_->setText(QStringLiteral("1"));
    shownIndex_ = index;
  }
  PlaceFields();
}

void ProductPanel::PlaceFields() {
  const int listLeft = kQuantityWidth + kGap;
  const int listWidth = std::max(40, width() - listLeft - kPriceWidth - kGap);
  list_->setGeometry(listLeft, 0, listWidth, height());
  const int rowHeight = quantity_->sizeHint().height();
  int top = 0;
  if (QListWidgetItem* item = list_->currentItem()) {
    const QRect row = list_->visualItemRect(item);
    top = list_->y() + list_->viewport()->y() + row.top() + (row.height() - rowHeight) / 2;
  }
  top = std::clamp(top, 0, std::max(0, height() - 2 * rowHeight - 2));
  const int priceLeft = listLeft + listWidth + kGap;
  price_->setGeometry(priceLeft, top, kPriceWidth, rowHeight);
  cent_->setGeometry(priceLeft, top + rowHeight + 2, kPriceWidth, cent_->sizeHint().height());
  quantity_->setGeometry(0, top, kQuantityWidth, rowHeight);
  unit_->setGeometry(0, cent_->y(), kQuantityWidth, unit_->sizeHint().height());
}

void ProductPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceFields();
}

void ProductPanel::TypeDigit(const QString& digit) {
  if (quantityIsDefault_ && quantity_->text() == QStringLiteral("1")) quantity_->clear();
  quantity_->setText(quantity_->text() + digit);
  quantityIsDefault_ = false;
}

void ProductPanel::Hover(const QPoint& position) {
  QListWidgetItem* item = list_->itemAt(position);
  const int index = item != nullptr ? list_->row(item) : -1;
  if (index != hoverIndex_ && window()->isActiveWindow()) {
    const bool near = hoverX_ == -1 || std::abs(position.x() - hoverX_) < kHoverSweepPixels;
    if (near && index >= 0) {
      list_->setCurrentRow(index);
      quantityIsDefault_ = true;
    }
    hoverIndex_ = index;
    hoverX_ = position.x();
  }
  if (!(focusBlocked_ && focusBlocked_())) list_->setFocus(Qt::MouseFocusReason);
}

bool ProductPanel::ListKey(QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Insert:
    case Qt::Key_Space:
      emit bookRequested();
      return true;
    case Qt::Key_Delete:
      emit cancelRequested();
      return true;
    case Qt::Key_Escape:
      emit abortRequested();
      return true;
    case Qt::Key_Plus:
      emit percentRequested(PercentSign::kSurcharge);
      return true;
    case Qt::Key_Minus:
      emit percentRequested(PercentSign::kDiscount);
      return true;
    default:
      break;
  }
  if (IsEnter(key.key())) {
    emit totalRequested(2);
    return true;
  }
  const QString text = key.text();
  if (text.size() == 1 && text[0].isDigit()) {
    TypeDigit(text);
    return true;
  }
  return false;
}

bool ProductPanel::QuantityKey(QKeyEvent& key) {
  const int code = key.key();
  const bool keypad = key.modifiers().testFlag(Qt::KeypadModifier);
  if (code >= Qt::Key_0 && code <= Qt::Key_9 && !keypad) return false;
  if (code == Qt::Key_Backspace || code == Qt::Key_Tab || code == Qt::Key_Backtab) return false;
  if (code == Qt::Key_Comma) {
    const bool replacesComma = quantity_->selectedText().contains(QLatin1Char(','));
    return quantity_->text().contains(QLatin1Char(',')) && !replacesComma;
  }
  if (code == Qt::Key_Insert) emit bookRequested();
  if (code == Qt::Key_Delete) emit cancelRequested();
  if (IsEnter(code)) emit totalRequested(1);
  if (code == Qt::Key_Escape) emit abortRequested();
  return true;
}

bool ProductPanel::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == list_ && type == QEvent::KeyPress) return ListKey(*static_cast<QKeyEvent*>(event));
  if (watched == quantity_ && type == QEvent::KeyPress)
    return QuantityKey(*static_cast<QKeyEvent*>(event));
  if (watched == list_->viewport() && type == QEvent::MouseMove) {
    Hover(static_cast<QMouseEvent*>(event)->position().toPoint());
  } else if (watched == list_->viewport() && type == QEvent::Leave) {
    hoverIndex_ = -1;
    hoverX_ = -1;
  } else if (watched == list_->viewport() && type == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    if (QListWidgetItem* item = list_->itemAt(mouse->position().toPoint()))
      list_->setCurrentItem(item);
    list_->setFocus(Qt::MouseFocusReason);
    emit bookRequested();
    return true;
  } else if (watched == quantity_ && type == QEvent::Enter) {
    quantity_->setFocus(Qt::MouseFocusReason);
    quantity_->selectAll();
  } else if ((watched == list_ || watched == quantity_) &&
             (type == QEvent::FocusIn || type == QEvent::FocusOut)) {
    SetFocusTint(*static_cast<QWidget*>(watched), type == QEvent::FocusIn);
  }
  return false;
}

}  // namespace kasse
