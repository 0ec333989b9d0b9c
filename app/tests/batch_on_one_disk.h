#pragma once
// A batch front-end whose register and simulated card write through one faulty disk, so a test
// can fail the journal and the card's books as one disk fails.

#include <filesystem>
#include <sstream>
#include <string>

#include "app/batch_runner.h"
#include "common/tests/faulty_file_io.h"
#include "common/tests/support/test_folders.h"
#include "register/tests/sim_card.h"

namespace kasse::testing {

struct BatchOnOneDisk {
  std::filesystem::path home = FreshHome();
  std::filesystem::path state = home / "state";
  FaultyFileIo io;
  std::ostringstream out, err;

  int Run(const std::string& script) {
    out.str("");
    err.str("");
    BatchOptions options;
    options.home = home;
    options.card = [this] { return SimCard(state / "card.state", &io); };
    options.journalIo = &io;
    options.stateFolder = state;
    BatchRunner runner(options, out, err);
    std::istringstream in(script);
    return runner.Run(in);
  }
};

}  // namespace kasse::testing
