#pragma once
// What every window test needs: one application object for the whole test binary, deleted
// after the last test (so the sanitizer build's leak check stays quiet), and a fresh copy of
// the shipped register home per test (FreshHome, named after the running test).

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

#include "common/tests/support/test_folders.h"

namespace kasse::testing {

inline QApplication* EnsureApp() {
  if (auto* running = qobject_cast<QApplication*>(QCoreApplication::instance())) return running;
  struct OwnedApp final : ::testing::Environment {
    void TearDown() override { app.reset(); }
    std::unique_ptr<QApplication> app;
  };
  static auto* const owner =
      static_cast<OwnedApp*>(::testing::AddGlobalTestEnvironment(new OwnedApp));
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  owner->app = std::make_unique<QApplication>(argc, argv);
  return owner->app.get();
}

}  // namespace kasse::testing
