#pragma once
// One Qt application for the whole test binary, on the offscreen platform (fonts and text
// layout need one; no display does), deleted after the last test so the sanitizer build's leak
// check stays quiet. The picture tests need Qt Gui only; the window tests take QApplication.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <memory>

namespace kasse::testing {

template <class App>
App* EnsureQtApp() {
  if (auto* running = qobject_cast<App*>(QCoreApplication::instance())) return running;
  struct OwnedApp final : ::testing::Environment {
    void TearDown() override { app.reset(); }
    std::unique_ptr<App> app;
  };
  static auto* const owner =
      static_cast<OwnedApp*>(::testing::AddGlobalTestEnvironment(new OwnedApp));
  static int argc = 3;
  static char name[] = "kasse_tests";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  owner->app = std::make_unique<App>(argc, argv);
  return owner->app.get();
}

inline QGuiApplication* EnsureGuiApp() {
  return EnsureQtApp<QGuiApplication>();
}

// Nothing darker than light grey in `area`.
inline bool IsWhite(const QImage& image, const QRect& area) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixelColor(x, y).lightness() < 200) return false;
  return true;
}

}  // namespace kasse::testing
