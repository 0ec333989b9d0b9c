#pragma once
// A fresh copy of the shipped register home per test, named after the running test, so that
// tests never share a journal or a card.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace kasse::testing {

inline std::filesystem::path FreshRegisterHome() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = std::string("kasse_reg_") + info->test_suite_name() + "_" + info->name();
  std::replace(folder.begin(), folder.end(), '/', '_');
  const auto home = std::filesystem::path(::testing::TempDir()) / folder;
  std::filesystem::remove_all(home);
  std::filesystem::copy(std::filesystem::path(KASSE_SOURCE_DIR) / "home", home,
                        std::filesystem::copy_options::recursive);
  return home;
}

}  // namespace kasse::testing
