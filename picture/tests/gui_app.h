#pragma once
// One Qt Gui application for the whole test binary, on the offscreen platform (fonts and text
// layout need one; no display does), deleted after the last test.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <memory>

namespace kasse::testing {

inline QGuiApplication* EnsureGuiApp() {
  if (auto* running = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return running;
  struct OwnedApp final : ::testing::Environment {
    void TearDown() override { app.reset(); }
    std::unique_ptr<QGuiApplication> app;
  };
  static auto* const owner =
      static_cast<OwnedApp*>(::testing::AddGlobalTestEnvironment(new OwnedApp));
  static int argc = 3;
  static char name[] = "picture_tests";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  owner->app = std::make_unique<QGuiApplication>(argc, argv);
  return owner->app.get();
}

}  // namespace kasse::testing
