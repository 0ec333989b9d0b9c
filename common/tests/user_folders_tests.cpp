#include "common/user_folders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace kasse {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserFolders, FollowTheXdgVariablesElseTheHomeFolder) {
  ScopedEnv home("HOME", "/home/anna");
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    ScopedEnv state("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(DefaultRegisterHome(), "/home/anna/.local/share/kasse");
    EXPECT_EQ(DefaultCardStateFile(2), "/home/anna/.local/state/kasse/card-v2.state");
    EXPECT_EQ(TestIssuerKeyFile(), "/home/anna/.local/state/kasse/test-issuer.key");
  }
  ScopedEnv data("XDG_DATA_HOME", "/srv/data");
  ScopedEnv state("XDG_STATE_HOME", "/srv/state");
  EXPECT_EQ(DefaultRegisterHome(), "/srv/data/kasse");
  EXPECT_EQ(DefaultCardStateFile(1), "/srv/state/kasse/card-v1.state");
}

TEST(UserFolders, RelativeXdgValuesAreIgnored) {
  ScopedEnv home("HOME", "/home/anna");
  ScopedEnv data("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(DefaultRegisterHome(), "/home/anna/.local/share/kasse");
}

TEST(UserFolders, PathErrorNamesThePathAndTheSystemsReason) {
  EXPECT_EQ(PathError("/x/card-v2.state", ENOTDIR), "/x/card-v2.state: Not a directory");
}

}  // namespace
}  // namespace kasse
