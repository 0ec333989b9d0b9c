#pragma once
// How a simulated card gets its number and certificate from the test issuer, and how a card
// made before the issuer (certified by a CA of its own, since discarded) is certified anew.

#include <filesystem>

#include "common/result.h"
#include "sim/card_files.h"
#include "sim/card_state.h"
#include "sim/qor_engine.h"
#include "sim/test_issuer.h"

namespace kasse::sim {

// The issuer of a card: the folder in the options, else the user's state folder for a card
// kept in a file, else a throw-away one for a card in memory only. Writes through the engine's
// file-I/O seam; says removed leftovers on its notices.
Result<TestIssuer> CardIssuer(const EngineOptions& options);
// That folder; empty for a throw-away issuer.
std::filesystem::path IssuerFolder(const EngineOptions& options);

// A new card's number (the fixed one in the options, else the issuer's next free one), key
// and certificate.
Result<void> IssueCard(const EngineOptions& options, CardState& state, CardKeys& keys);

// A kept card (its key and names already checked against its certificate) whose certificate
// another issuer made, shown by the sound chain to that issuer's certificate in its file, gets
// a new certificate for the same key, tpId and tpIdNo; its number is reserved with the issuer.
// A certificate that chains to neither is damaged: refused (CardRefusal), never replaced. True
// when the card changed and must be written before it answers.
Result<bool> RecertifyCard(const EngineOptions& options, const CardState& state, CardKeys& keys,
                           const CardPaths& paths);

}  // namespace kasse::sim
