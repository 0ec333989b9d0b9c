#include "common/tests/support/test_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace kasse::testing {
namespace fs = std::filesystem;

namespace {

fs::path MakeUnique(const fs::path& parent, std::string_view prefix) {
  std::string pattern = (parent / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed in " << parent;
    return {};
  }
  return pattern;
}

// Removes the run folder after the last test; an environment, so it runs before the
// process ends and knows whether anything failed.
class RunFolderCleanup final : public ::testing::Environment {
 public:
  explicit RunFolderCleanup(fs::path folder) : folder_(std::move(folder)) {}
  void TearDown() override {
    if (::testing::UnitTest::GetInstance()->Failed()) {
      std::fprintf(stderr, "test files kept in %s\n", folder_.c_str());
      return;
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

 private:
  fs::path folder_;
};

}  // namespace

const fs::path& RunFolder() {
  static const fs::path folder = [] {
    fs::path made = MakeUnique(::testing::TempDir(), "kasse-test");
    if (!made.empty()) ::testing::AddGlobalTestEnvironment(new RunFolderCleanup(made));
    return made;
  }();
  return folder;
}

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "outside-test";
  std::string name = std::string(info->test_suite_name()) + "_" + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

fs::path FreshFolder(std::string_view name) {
  const fs::path folder = RunFolder() / (name.empty() ? CurrentTestName() : std::string(name));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

fs::path NewFolder(std::string_view prefix) {
  return MakeUnique(RunFolder(), prefix);
}

fs::path FreshHome(std::string_view name) {
  const fs::path home = RunFolder() / (name.empty() ? CurrentTestName() : std::string(name));
  fs::remove_all(home);
  fs::copy(fs::path(KASSE_SOURCE_DIR) / "home", home, fs::copy_options::recursive);
  ::setenv("XDG_STATE_HOME", (home / "card-state").c_str(), 1);
  return home;
}

TempFolder::TempFolder(std::string_view prefix) : path_(MakeUnique(RunFolder(), prefix)) {}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

fs::path TempFolder::Write(const fs::path& relative, const std::string& contents) const {
  const fs::path file = path_ / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << contents;
  return file;
}

}  // namespace kasse::testing
