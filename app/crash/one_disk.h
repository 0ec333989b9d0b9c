#pragma once
// A register and the simulated card inside it on one disk below `root` (home/, state/), both
// writing through `io`: what the power-cut and bit-rot tests restart again and again.

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "register/register.h"
#include "simreader/embedded_card.h"

namespace kasse::crash {

inline constexpr const char* kCardFile = "card-v2.state";

// Also points the issuer's folder (XDG_STATE_HOME) below `root`: call it before CardAt.
inline RegisterOptions OptionsAt(const std::filesystem::path& root, FileIo* io) {
  ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
  RegisterOptions options;
  options.home = root / "home";
  options.stateFolder = root / "state";
  options.journalIo = io;
  return options;
}

// `engine` carries the card's own settings; its state file and file calls are set here.
inline std::unique_ptr<EmbeddedCard> CardAt(const std::filesystem::path& root, FileIo* io,
                                            sim::EngineOptions engine = {}) {
  engine.stateFile = root / "state" / kCardFile;
  engine.io = io;
  return std::make_unique<EmbeddedCard>(std::move(engine));
}

}  // namespace kasse::crash
