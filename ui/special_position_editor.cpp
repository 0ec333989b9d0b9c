#include "ui/special_position_editor.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "register/register.h"
#include "ui/look.h"

namespace kasse {

namespace {

bool IsDigit(const QString& text) {
  return text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9');
}

// Control keys and keys without a character (arrows, Delete, Tab) are not characters.
bool IsCharacter(const QString& text) {
  return !text.isEmpty() && text[0].isPrint();
}

}  // namespace

QString QuantityText(double quantity) {
  char buffer[32];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, quantity);
  std::string text(buffer, written.ptr);
  std::replace(text.begin(), text.end(), '.', ',');
  return QString::fromStdString(text);
}

SpecialPositionEditor::SpecialPositionEditor(Register& reg, QWidget* parent)
    : QGroupBox(parent),
      reg_(reg),
      name_(new QLineEdit(this)),
      unit_(new QLineEdit(this)),
      quantity_(new QLineEdit(QStringLiteral("1"), this)),
      discount_(new QCheckBox(this)),
      voucher_(new QCheckBox(this)),
      agency_(new QCheckBox(this)),
      deliveryNote_(new QCheckBox(this)),
      add_(new QPushButton(this)),
      toList_(new QPushButton(this)) {
  setObjectName(QStringLiteral("EditorGroup"));
  StyleGroup(*this, kPaleColour);
  captions_.Add(this, 79);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Label(82, "Handelsübliche Bezeichnung"));
  layout->addWidget(name_);
  auto* grid = new QGridLayout;
  grid->addWidget(Label(80, "Menge/Anzahl"), 0, 0);
  grid->addWidget(Label(81, "Mengeneinheit"), 0, 1);
  grid->addWidget(quantity_, 1, 0);
  grid->addWidget(unit_, 1, 1);
  captions_.Add(unit_, 220, CaptionBook::Kind::kHint);
  grid->addWidget(Label(85, "Preise(Cent)"), 2, 0);
  grid->addWidget(Label(86, "UStS"), 2, 1);
  for (std::size_t i = 0; i < prices_.size(); ++i) {
    prices_[i] = new QLineEdit(this);
    rates_[i] = new QLabel(this);
    rates_[i]->setFrameShape(QFrame::Panel);
    rates_[i]->setFrameShadow(QFrame::Sunken);
    StylePanel(*rates_[i], kPanelColour);
    grid->addWidget(prices_[i], 3 + int(i), 0);
    grid->addWidget(rates_[i], 3 + int(i), 1);
    captions_.Add(prices_[i], 221 + int(i), CaptionBook::Kind::kHint);
    captions_.Add(rates_[i], 200, CaptionBook::Kind::kPanel);
    FilterLikePrice(prices_[i]);
  }
  layout->addLayout(grid);
  const std::pair<QCheckBox*, int> boxes[] = {
      {discount_, 83}, {voucher_, 84}, {agency_, 87}, {deliveryNote_, 88}};
  for (const auto& [box, tag] : boxes) {
    layout->addWidget(box);
    captions_.Add(box, tag);
  }
  layout->addWidget(add_);
  layout->addWidget(toList_);
  layout->addStretch(1);
  captions_.Add(add_, 89);
  captions_.Add(toList_, 133);
  quantity_->installEventFilter(this);
  connect(add_, &QPushButton::clicked, this, &SpecialPositionEditor::bookRequested);
  connect(toList_, &QPushButton::clicked, this, &SpecialPositionEditor::addToListRequested);
  setFixedWidth(230);
  RefreshRates();
}

QLabel* SpecialPositionEditor::Label(int tag, const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text), this);
  captions_.Add(label, tag);
  return label;
}

void SpecialPositionEditor::FilterLikePrice(QLineEdit* field) {
  priceLike_.push_back(field);
  field->installEventFilter(this);
}

void SpecialPositionEditor::Relabel() {
  captions_.Apply(reg_.Texts());
}

void SpecialPositionEditor::RefreshRates() {
  for (std::size_t i = 0; i < rates_.size(); ++i)
    rates_[i]->setText(FromCore(reg_.Config().containerRate[i]));
}

SpecialPositionFields SpecialPositionEditor::Fields() const {
  SpecialPositionFields fields;
  fields.name = ToCore(name_->text());
  fields.unit = ToCore(unit_->text());
  fields.quantity = ToCore(quantity_->text());
  for (std::size_t i = 0; i < prices_.size(); ++i)
    fields.prices[i] = ToCore(prices_[i]->text());
  fields.discountSurcharge = discount_->isChecked();
  fields.voucher = voucher_->isChecked();
  fields.agency = agency_->isChecked();
  fields.deliveryNote = deliveryNote_->isChecked();
  return fields;
}

void SpecialPositionEditor::ShowPosition(const TProd& position) {
  name_->setText(FromCore(position.name));
  unit_->setText(FromCore(position.unit));
  for (std::size_t i = 0; i < prices_.size(); ++i)
    prices_[i]->setText(QString::number(position.price[i]));
  discount_->setChecked(position.discountSurcharge);
  voucher_->setChecked(position.voucher);
  quantity_->setText(QuantityText(position.qnt));
  agency_->setChecked(position.thirdparty);
  deliveryNote_->setChecked(position.deliverynote);
}

bool SpecialPositionEditor::QuantityCharacter(const QString& text) {
  if (text == QStringLiteral("+")) {
    emit productBookRequested();
    return true;
  }
  if (text == QStringLiteral("\r") || text == QStringLiteral("\n")) {
    emit totalRequested();
    return true;
  }
  if (text == QStringLiteral("\x1b")) {
    emit abortRequested();
    return true;
  }
  if (text == QStringLiteral(",")) return quantity_->text().contains(QLatin1Char(','));
  // A minus always starts the number.
  if (text == QStringLiteral("-")) quantity_->clear();
  return !(IsDigit(text) || text == QStringLiteral("-") || text == QStringLiteral("\b"));
}

bool SpecialPositionEditor::PriceCharacter(const QString& text) {
  if (text == QStringLiteral("+")) {
    emit bookRequested();
    return true;
  }
  if (!IsCharacter(text)) return false;
  return !(IsDigit(text) || text == QStringLiteral("-"));
}

bool SpecialPositionEditor::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto& key = *static_cast<QKeyEvent*>(event);
  QString text = key.text();
  if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) text = QStringLiteral("\r");
  if (key.key() == Qt::Key_Escape) text = QStringLiteral("\x1b");
  if (watched == quantity_) {
    if (!IsCharacter(text) && text != QStringLiteral("\r") && text != QStringLiteral("\x1b"))
      return false;
    return QuantityCharacter(text);
  }
  if (std::find(priceLike_.begin(), priceLike_.end(), watched) != priceLike_.end())
    return PriceCharacter(text);
  return false;
}

}  // namespace kasse
