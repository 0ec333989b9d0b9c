#pragma once
// The editor "Buchungsposition": a special position typed in by hand, booked with
// "Hinzufügen" or added to the product list with "In Produktliste eintragen ->".

#include <QGroupBox>
#include <array>

#include "journal/product.h"
#include "register/special_position.h"
#include "ui/captions.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kasse {

class Register;

class SpecialPositionEditor : public QGroupBox {
  Q_OBJECT

 public:
  SpecialPositionEditor(Register& reg, QWidget* parent);

  void Relabel();
  // The six rate panels show the register's current rates.
  void RefreshRates();
  SpecialPositionFields Fields() const;
  void ShowPosition(const TProd& position);
  // The percentage field of the discount box uses the same key rule as the price fields.
  void FilterLikePrice(QLineEdit* field);

  QLineEdit* NameField() const { return name_; }
  QLineEdit* UnitField() const { return unit_; }
  QLineEdit* QuantityField() const { return quantity_; }
  QLineEdit* PriceField(int container) const { return prices_.at(std::size_t(container - 1)); }
  QPushButton* AddButton() const { return add_; }
  QPushButton* ToListButton() const { return toList_; }

 signals:
  void bookRequested();         // "Hinzufügen", or "+" in a price field
  void addToListRequested();    // "In Produktliste eintragen ->"
  void productBookRequested();  // "+" in the quantity field books the list's entry
  void totalRequested();
  void abortRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* Label(int tag, const char* text);
  bool QuantityCharacter(const QString& text);
  bool PriceCharacter(const QString& text);

  Register& reg_;
  QLineEdit* name_;
  QLineEdit* unit_;
  QLineEdit* quantity_;
  std::array<QLineEdit*, 6> prices_{};
  std::array<QLabel*, 6> rates_{};
  QCheckBox* discount_;
  QCheckBox* voucher_;
  QCheckBox* agency_;
  QCheckBox* deliveryNote_;
  QPushButton* add_;
  QPushButton* toList_;
  std::vector<QLineEdit*> priceLike_;
  CaptionBook captions_;
};

// The quantity in its shortest decimal form, with a decimal comma.
QString QuantityText(double quantity);

}  // namespace kasse
