#pragma once
// The register's main window: special-position editor, product list or report area, the
// receipt with the sale buttons, and the right-hand column (picture, application clock, card,
// training, operators). A thin view: every action goes to the Register, and Refresh() shows
// what the register then holds. It also owns the tool windows its menus open.

#include <QElapsedTimer>
#include <QMainWindow>
#include <array>

#include <optional>

#include "common/result.h"
#include "register/register_host.h"
#include "ui/about_box.h"
#include "ui/captions.h"

class QAction;
class QActionGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kasse {

class CardErrorWindow;
class CardMonitorWindow;
class ClockWindow;
class DebugConsole;
class FunctionMonitorWindow;
class MassWindow;
class ProductPanel;
class Register;
class ReceiptView;
class ReportView;
class ScannerWindow;
class SpecialPositionEditor;
class TransportPinDialog;
class VatRateDialog;
enum class PercentSign;

// The tool windows, created hidden with the main window.
struct ToolWindows {
  MassWindow* mass = nullptr;
  FunctionMonitorWindow* functionMonitor = nullptr;
  ScannerWindow* scanner = nullptr;
  VatRateDialog* vatRates = nullptr;
  DebugConsole* debug = nullptr;
  TransportPinDialog* transportPin = nullptr;
  CardErrorWindow* cardError = nullptr;
  ClockWindow* clock = nullptr;
  CardMonitorWindow* cardMonitor = nullptr;
};

// The menu entries the window and its tests reach.
struct MainActions {
  QAction* load = nullptr;
  QAction* save = nullptr;
  QAction* saveAs = nullptr;
  QAction* printStandard = nullptr;
  QAction* printRaw = nullptr;
  QAction* saveReceipt = nullptr;
  QAction* training = nullptr;
  QAction* verifyOnCard = nullptr;
  QAction* vatRates = nullptr;
  QAction* securityText = nullptr;
  QAction* qrCode = nullptr;
  std::array<QAction*, 4> languages{};
  QAction* reportView = nullptr;
  QAction* editor = nullptr;
  QAction* scanner = nullptr;
  QAction* status = nullptr;
  QAction* deactivate = nullptr;
  QAction* clock = nullptr;
  QAction* cardMonitor = nullptr;
  QAction* functionMonitor = nullptr;
  QAction* debug = nullptr;
  QAction* mass = nullptr;
  QAction* about = nullptr;
};

class MainWindow : public QMainWindow, public RegisterHost {
  Q_OBJECT

 public:
  // The least time between two refreshes that a run of changes brings.
  static constexpr int kRefreshGapMs = 100;

  // The design names of the language menu, in menu order.
  static constexpr std::array<const char*, 4> kLanguages = {"Deutsch", "English", "Francais",
                                                            "Polnisch"};

  // Creates the tool windows and becomes the register's host (message boxes, the transport-PIN
  // window, the card-error window, the debug console's hold); the card itself is started by
  // the caller.
  explicit MainWindow(Register& reg, QWidget* parent = nullptr);
  ~MainWindow() override;

  void Relabel();
  // What Help > About tells (by default the register's home and the user's state folder), and
  // how the card was found when no --card named it (the status bar's card text says it on
  // hover).
  void SetStartFacts(AboutFacts about, std::optional<Error> cardNote);
  // After the register has started: the product list, the monitors as configured, the view.
  void Started();
  // Shows what the register holds now: receipt, sale buttons, labels, check marks.
  void Refresh();

  // Operator actions, as the keys, clicks and menus run them.
  void BookSelected();
  void CancelAtCaret();
  void Total(int times);
  void Abort();
  void Percent(PercentSign sign);
  void BookSpecial();
  void AddSpecialToList();
  void EditShownProduct();
  void ToggleReportView();
  void ToggleEditor();
  void ChooseLanguage(int menuIndex);
  void ShowStatusSheet();
  void OpenScanner();
  void ShowCardError();

  Register& Reg() { return reg_; }
  ProductPanel* Products() const { return products_; }
  SpecialPositionEditor* Editor() const { return editor_; }
  ReportView* Reports() const { return reports_; }
  ReceiptView* Receipt() const { return receipt_; }
  QGroupBox* ProductGroup() const { return productGroup_; }
  QGroupBox* DiscountBox() const { return discountBox_; }
  QLineEdit* PercentField() const { return percent_; }
  QPushButton* SummeButton() const { return summe_; }
  QPushButton* StornoButton() const { return storno_; }
  QPushButton* AbbruchButton() const { return abbruch_; }
  QPushButton* KassierenButton() const { return kassieren_; }
  QLabel* IdLabel() const { return idLabel_; }
  QLabel* TrainingLabel() const { return trainingLabel_; }
  QLabel* DateLabel() const { return dateLabel_; }
  QLabel* TimeLabel() const { return timeLabel_; }
  // The status bar's lasting parts: the card in use and the verification page.
  QLabel* CardInUseLabel() const { return cardInUse_; }
  QLabel* VerifyPageLabel() const { return verifyPage_; }
  // Operator 1 or 2.
  QRadioButton* OperatorButton(int number) const {
    return operatorButtons_.at(number == 2 ? 1 : 0);
  }
  const MainActions& Actions() const { return actions_; }
  const ToolWindows& Tools() const { return tools_; }
  bool ReportViewShown() const { return reportView_; }
  bool EditorShown() const { return itemEditorVisible_; }
  // The reason the last operator action failed (also in the status bar); empty after success.
  const QString& LastProblem() const { return problem_; }

 signals:
  // The card error window was closed: the register ends.
  void endRegister();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildFileMenu(QMenu* menu);
  void BuildOptionsMenu(QMenu* menu);
  void BuildDeveloperMenu(QMenu* menu);
  void BuildStatusBar();
  void RefreshStatusBar();
  void CreateToolWindows();
  // RegisterHost.
  bool Confirm(const std::string& text, const std::string& caption) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  void RequestTransportPin() override;
  void CardFailed() override;
  DebugHold* CommandHold() override;
  void WhileCardWorks() override;
  void Changed() override;
  QWidget* BuildReceiptGroup();
  QWidget* BuildRightColumn();
  void ConnectBindings();
  void ApplyLayout();
  void ShowReceiptLine(std::size_t line);
  void ShowSecurityChoice(bool textClicked);
  void LoadProducts();
  void SaveProducts(bool choose);
  void DeleteProduct(int index);
  void Report(const Result<void>& outcome);
  void Report(const QString& problem);

  Register& reg_;
  CaptionBook captions_;
  MainActions actions_;
  ToolWindows tools_;
  SpecialPositionEditor* editor_ = nullptr;
  QGroupBox* productGroup_ = nullptr;
  ProductPanel* products_ = nullptr;
  ReportView* reports_ = nullptr;
  ReceiptView* receipt_ = nullptr;
  QGroupBox* discountBox_ = nullptr;
  QLineEdit* percent_ = nullptr;
  QPushButton* summe_ = nullptr;
  QPushButton* storno_ = nullptr;
  QPushButton* abbruch_ = nullptr;
  QPushButton* kassieren_ = nullptr;
  QLabel* dateLabel_ = nullptr;
  QLabel* timeLabel_ = nullptr;
  QLabel* idLabel_ = nullptr;
  QLabel* trainingLabel_ = nullptr;
  QLabel* cardInUse_ = nullptr;
  QLabel* verifyPage_ = nullptr;
  AboutFacts about_;
  std::optional<Error> cardNote_;
  std::array<QLineEdit*, 2> operatorNames_{};
  std::array<QRadioButton*, 2> operatorButtons_{};
  QTimer* refreshTimer_ = nullptr;
  QElapsedTimer lastRefresh_;
  bool reportView_ = false;
  bool itemEditorVisible_ = false;
  bool cardErrorShown_ = false;
  QString problem_;
};

}  // namespace kasse
