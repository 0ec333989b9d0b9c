#pragma once
// What the card access is built on: the PC/SC calls of one backend, and what its card says
// besides its answers. The front-end builds it (pcsc-lite here, the simulated card inside the
// process in simreader/) and hands it to the register, which owns it from then on, so that
// the register never knows which card it has beyond what these calls tell.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card/pcsc_api.h"
#include "card/pcsc_lite.h"
#include "common/result.h"

namespace kasse {

class CardBackend {
 public:
  virtual ~CardBackend() = default;

  // The connector's calls; they live as long as the backend.
  virtual PcscApi& Api() = 0;
  // The card lives inside this process, not behind the pcsc-lite service.
  virtual bool InProcess() const = 0;
  // Why the card inside this process could not start ("…/card-v2.state.lock: Not a
  // directory"); none when it started, and always behind the service, which says its own.
  virtual std::optional<Error> StartError() const { return std::nullopt; }
  // What the card said on its own since the last call (a snapshot it cannot write, leftovers
  // it removed): from any thread in, on the owner's out.
  virtual std::vector<std::string> TakeNotices() { return {}; }
};

// Builds a backend where the front-end makes its register: the card is held from then on.
using CardBackendMaker = std::function<std::unique_ptr<CardBackend>()>;

// The cards in the readers of the pcsc-lite service (pcscd).
class PcscLiteBackend final : public CardBackend {
 public:
  PcscApi& Api() override { return api_; }
  bool InProcess() const override { return false; }

 private:
  PcscLiteApi api_;
};

}  // namespace kasse
