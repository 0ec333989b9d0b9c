#pragma once
// A register over the embedded card in a fresh copy of the shipped home, with its main window
// shown and active, for the main-window tests. Questions are answered OK (no message boxes).

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "register/register.h"
#include "register/register_probe.h"
#include "register/tests/sim_card.h"
#include "ui/captions.h"
#include "ui/main_window.h"
#include "ui/product_panel.h"
#include "ui/tests/ui_test_support.h"

namespace kasse::testing {

// The window's host without its message boxes: every question is answered OK, messages and
// the transport-PIN request go nowhere; the rest is the window's.
class QuietHost : public RegisterHost {
 public:
  explicit QuietHost(RegisterHost& window) : window_(window) {}
  void CardFailed() override { window_.CardFailed(); }
  DebugHold* CommandHold() override { return window_.CommandHold(); }
  void WhileCardWorks() override { window_.WhileCardWorks(); }
  void Changed() override { window_.Changed(); }

 private:
  RegisterHost& window_;
};

struct Till {
  // The user's card of the version level, as kasse's main takes it.
  explicit Till(int cardVersion = 2) {
    EnsureApp();
    RegisterOptions options;
    options.home = home;
    sim::EngineOptions engine;
    engine.versionLevel = cardVersion;
    std::unique_ptr<EmbeddedCard> made = UserSimCard(std::move(engine));
    card = made.get();
    reg = std::make_unique<Register>(options, std::move(made));
    window = std::make_unique<MainWindow>(*reg);
    quiet = std::make_unique<QuietHost>(*window);
    reg->SetHost(quiet.get());
    started = static_cast<bool>(reg->Start());
    window->Started();
    window->show();
    window->activateWindow();
    (void)QTest::qWaitForWindowActive(window.get());
  }
  ~Till() {
    window.reset();
    reg.reset();
  }

  const Sale& SaleNow() const { return reg->CurrentSale(); }
  QListWidget* List() const { return window->Products()->List(); }
  std::string ReceiptText() const { return SaleNow().ReceiptText(); }
  bool ReceiptHas(const std::string& text) const {
    return ReceiptText().find(text) != std::string::npos;
  }
  void Key(QWidget* target, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
  }
  void Type(QWidget* target, const QString& characters) {
    for (const QChar c : characters)
      QTest::keyClick(target, c.toLatin1());
  }
  void MoveOverRow(int row, int x) {
    QRect rect = List()->visualItemRect(List()->item(row));
    const QPointF at(x, rect.center().y());
    QMouseEvent move(QEvent::MouseMove, at, List()->viewport()->mapToGlobal(at), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(List()->viewport(), &move);
  }
  const TProd& Product(int index) const {
    return reg->Products().Products().at(static_cast<std::size_t>(index));
  }

  std::filesystem::path home = FreshHome();
  std::unique_ptr<Register> reg;
  EmbeddedCard* card = nullptr;  // the register's, for taking it out of its reader
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<QuietHost> quiet;
  bool started = false;
};

}  // namespace kasse::testing
