#pragma once
// What every window test needs: one application object for the whole test binary, deleted
// after the last test (so the sanitizer build's leak check stays quiet), and a fresh copy of
// the shipped register home per test (FreshHome, named after the running test).

#include <gtest/gtest.h>

#include <QApplication>

#include "common/tests/support/test_folders.h"
#include "picture/tests/gui_app.h"

namespace kasse::testing {

inline QApplication* EnsureApp() {
  return EnsureQtApp<QApplication>();
}

}  // namespace kasse::testing
