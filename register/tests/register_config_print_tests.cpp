// The receipt printer's queue in cfg/start.ini: [Print] rawQueue.

#include <gtest/gtest.h>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "register/register_config.h"

namespace kasse {
namespace {

TEST(RegisterConfigPrint, RawQueueDefaultsLoadsAndRoundTrips) {
  const auto home = testing::FreshFolder();
  std::filesystem::create_directories(home / "cfg");
  RegisterConfig config(home);
  config.LoadConfiguration();
  EXPECT_EQ(config.rawQueue, "EPSON_TM-T88IV_Receipt");

  // An empty value keeps the default: it would name no queue at all.
  ASSERT_TRUE(WriteFileAtomic(config.ConfigPath(), "[Print]\nrawQueue=\n"));
  config.LoadConfiguration();
  EXPECT_EQ(config.rawQueue, "EPSON_TM-T88IV_Receipt");

  ASSERT_TRUE(WriteFileAtomic(config.ConfigPath(), "[Print]\nrawQueue=Bon_Drucker\n"));
  config.LoadConfiguration();
  EXPECT_EQ(config.rawQueue, "Bon_Drucker");
  ASSERT_TRUE(config.SaveConfiguration());
  EXPECT_NE(ReadFile(config.ConfigPath()).value().find("[Print]\nrawQueue=Bon_Drucker"),
            std::string::npos);
  RegisterConfig again(home);
  again.LoadConfiguration();
  EXPECT_EQ(again.rawQueue, "Bon_Drucker");
}

}  // namespace
}  // namespace kasse
