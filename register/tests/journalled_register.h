#pragma once
// A register on the embedded card in a fresh copy of the shipped home, whose journal (and the
// rescue of what it cannot write) goes through a FaultyFileIo, with a state folder of its own.
// The card writes through the same FaultyFileIo: one disk, failed as one.

#include <filesystem>
#include <memory>
#include <string>

#include "common/files.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "register/register.h"
#include "register/tests/sim_card.h"

namespace kasse {

inline std::filesystem::path TempHome() {
  const std::filesystem::path home = testing::NewFolder("register");
  std::filesystem::copy(std::filesystem::path(KASSE_SOURCE_DIR) / "home", home,
                        std::filesystem::copy_options::recursive);
  return home;
}

struct JournalledRegister {
  std::filesystem::path home = TempHome();
  std::filesystem::path state = home / "state";
  testing::FaultyFileIo io;
  std::unique_ptr<Register> reg;

  RegisterOptions Options() {
    RegisterOptions options;
    options.home = home;
    options.journalIo = &io;
    options.stateFolder = state;
    return options;
  }
  void Start() {
    // Never the user's card.
    reg = std::make_unique<Register>(Options(), testing::SimCard(state / "card.state", &io));
    ASSERT_TRUE(reg->Start());
  }
  Result<void> Sale() {
    if (reg->CurrentSale().NoSaleOpen()) {
      if (auto booked = reg->BookProduct(0, "1"); !booked) return booked;
      if (auto totalled = reg->Summe(); !totalled) return totalled;
    }
    return reg->Kassieren();
  }
  std::string Journal(const std::filesystem::path& file) { return ReadFile(file).value(); }
};

}  // namespace kasse
