#pragma once
// The simulated card inside the process, for the tests that sign with a real card: the golden
// run, the journal with the card on one disk, the card's own checks, the windows and batch.

#include <filesystem>
#include <memory>
#include <utility>

#include "common/file_io.h"
#include "common/user_folders.h"
#include "simreader/embedded_card.h"

namespace kasse::testing {

// The card in `stateFile` (empty: in memory only), writing through `io` (null: the system's).
inline std::unique_ptr<EmbeddedCard> SimCard(std::filesystem::path stateFile,
                                             FileIo* io = nullptr) {
  sim::EngineOptions engine;
  engine.stateFile = std::move(stateFile);
  engine.io = io;
  return std::make_unique<EmbeddedCard>(std::move(engine));
}

// The user's card of `engine.versionLevel`, where kasse finds it when nothing names it;
// `engine` says how a new card starts. After FreshHome, which puts the user's state folder into
// the test's home.
inline std::unique_ptr<EmbeddedCard> UserSimCard(sim::EngineOptions engine = {}) {
  engine.stateFile = DefaultCardStateFile(engine.versionLevel);
  return std::make_unique<EmbeddedCard>(std::move(engine));
}

}  // namespace kasse::testing
