#pragma once
// What every window test needs: one application object for the whole test binary, deleted
// after the last test (so the sanitizer build's leak check stays quiet), and a fresh copy of
// the shipped register home per test.

#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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

// Named after the running test, so that tests never share a journal or a card.
inline std::filesystem::path FreshHome() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = std::string("kasse_ui_") + info->test_suite_name() + "_" + info->name();
  std::replace(folder.begin(), folder.end(), '/', '_');
  const auto home = std::filesystem::path(::testing::TempDir()) / folder;
  std::filesystem::remove_all(home);
  std::filesystem::copy(std::filesystem::path(KASSE_SOURCE_DIR) / "home", home,
                        std::filesystem::copy_options::recursive);
  // The test's card lives in its own folder, never in the user's state folder.
  ::setenv("XDG_STATE_HOME", (home / "card-state").c_str(), 1);
  return home;
}

}  // namespace kasse::testing
