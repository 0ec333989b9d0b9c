#pragma once
// The product list with the quantity field left of the selected entry and the price panel
// right of it. Selection follows the pointer (the 20-pixel rule keeps a quick sideways sweep
// from changing it); keys and clicks are handed to the main window as requests.

#include <QWidget>
#include <functional>
#include <string>

#include "ui/captions.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;

namespace kasse {

class Register;
enum class PercentSign;

class ProductPanel : public QWidget {
  Q_OBJECT

 public:
  // A pointer sweep wider than this between two entries does not select.
  static constexpr int kHoverSweepPixels = 20;

  ProductPanel(Register& reg, QWidget* parent);

  void Relabel();
  // Refills the list from the register's products and selects the first entry.
  void Reload();
  // While it returns true the list does not take the focus under the pointer.
  void SetFocusBlocked(std::function<bool()> blocked) { focusBlocked_ = std::move(blocked); }

  int ShownProductIndex() const { return shownIndex_; }
  int SelectedIndex() const;
  void Select(int index);
  std::string QuantityText() const;
  bool QuantityIsDefault() const { return quantityIsDefault_; }
  QListWidget* List() const { return list_; }
  QLineEdit* Quantity() const { return quantity_; }
  QLabel* Price() const { return price_; }
  QLabel* Unit() const { return unit_; }
  QMenu* ContextMenu() const { return menu_; }

 signals:
  void bookRequested();
  void cancelRequested();
  void totalRequested(int times);  // Enter in the list totals twice: total, then cash in
  void abortRequested();
  void percentRequested(kasse::PercentSign sign);
  void deleteRequested(int index);
  void saveRequested();
  void saveAsRequested();
  void loadRequested();
  void editRequested(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool ListKey(QKeyEvent& key);
  bool QuantityKey(QKeyEvent& key);
  void Hover(const QPoint& position);
  void ShowEntry(int index);
  void PlaceFields();
  void TypeDigit(const QString& digit);

  Register& reg_;
  QListWidget* list_;
  QLineEdit* quantity_;
  QLabel* price_;
  QLabel* cent_;
  QLabel* unit_;
  QMenu* menu_;
  CaptionBook captions_;
  std::function<bool()> focusBlocked_;
  int shownIndex_ = -1;
  int hoverIndex_ = -1;
  int hoverX_ = -1;
  bool quantityIsDefault_ = true;
};

}  // namespace kasse
