#pragma once
// The report area "Tagesabschluss" that takes the product list's place: the daily closing
// (signed or not), the booked months of the card and the sum over a span of them.

#include <QGroupBox>

#include "common/result.h"
#include "ui/captions.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kasse {

class Register;

class ReportView : public QGroupBox {
  Q_OBJECT

 public:
  ReportView(Register& reg, QWidget* parent);

  void Relabel();
  bool MonthsEmpty() const;
  // "Umsatzmonate": reads the booked months; the list is kept when the card gives none.
  Result<void> FetchMonths();
  // "Von-Bis Summe": the span of the selected months.
  Result<void> SpanOfSelection();
  Result<void> DailyClosing();

  QPushButton* DailyButton() const { return daily_; }
  QCheckBox* SignedBox() const { return signed_; }
  QListWidget* Months() const { return months_; }
  QPushButton* MonthsButton() const { return fetch_; }
  QPushButton* SpanButton() const { return span_; }
  QPushButton* LeaveButton() const { return leave_; }
  QLabel* CardStart() const { return cardStart_; }

 signals:
  void leaveRequested();
  // A report ran (the receipt changed); the error is empty on success.
  void reportDone(const QString& error);

 private:
  Register& reg_;
  QPushButton* daily_;
  QCheckBox* signed_;
  QLabel* cardStart_;
  QListWidget* months_;
  QPushButton* fetch_;
  QPushButton* span_;
  QPushButton* leave_;
  CaptionBook captions_;
};

}  // namespace kasse
