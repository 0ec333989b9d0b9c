#include "fuzz/card_pool.h"

#include <array>
#include <memory>

namespace kasse::fuzz {

sim::QorEngine& PooledCard(unsigned slot) {
  struct Pooled {
    std::unique_ptr<sim::QorEngine> card;
    std::size_t uses = 0;
  };
  // One process fuzzes one target at a time; the pool lives as long as the fuzzer.
  static std::array<Pooled, 8> pool;
  Pooled& pooled = pool[slot % pool.size()];
  if (!pooled.card || ++pooled.uses % kRenewal == 0) {
    sim::EngineOptions options;
    options.versionLevel = (slot & 1) ? 1 : 2;
    options.startLifecycle =
        (slot & 2) ? sim::Lifecycle::kPersonalised : sim::Lifecycle::kActivated;
    options.debugHash = (slot & 4) != 0;
    pooled.card = std::make_unique<sim::QorEngine>(options);
  }
  pooled.card->Reset();
  return *pooled.card;
}

}  // namespace kasse::fuzz
