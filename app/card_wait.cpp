#include "app/card_wait.h"

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace kasse {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one reader is watched before the next one (and new readers) get their turn.
constexpr milliseconds kSlice{100};

std::vector<std::string> ReaderNames(PcscApi& pcsc, PcscHandle context) {
  std::string multiString;
  std::vector<std::string> names;
  if (pcsc.ListReaders(context, multiString) != pcsc::kSuccess) return names;
  for (std::size_t start = 0; start < multiString.size() && multiString[start] != '\0';) {
    const std::size_t end = multiString.find('\0', start);
    names.push_back(multiString.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return names;
}

bool HoldsCard(std::uint32_t state) {
  return (state & pcsc::kStatePresent) != 0 && (state & pcsc::kStateMute) == 0;
}

class CardWatch {
 public:
  explicit CardWatch(PcscApi& pcsc) : pcsc_(pcsc) {}
  ~CardWatch() { Release(); }
  CardWatch(const CardWatch&) = delete;
  CardWatch& operator=(const CardWatch&) = delete;

  // One look at every reader; a reader seen before is watched for up to `slice` for a change.
  bool LookOnce(milliseconds slice, bool& anyReader) {
    if (context_ == 0 && pcsc_.EstablishContext(context_) != pcsc::kSuccess) context_ = 0;
    const std::vector<std::string> readers =
        context_ != 0 ? ReaderNames(pcsc_, context_) : std::vector<std::string>{};
    anyReader = !readers.empty();
    for (const std::string& reader : readers) {
      const auto known = states_.find(reader);
      const std::uint32_t current = known == states_.end() ? pcsc::kStateUnaware : known->second;
      std::uint32_t state = current;
      const PcscCode code =
          pcsc_.GetStatusChange(context_, reader, current, state,
                                current == pcsc::kStateUnaware ? milliseconds{0} : slice);
      if (code == pcsc::kSuccess) {
        states_[reader] = state & ~pcsc::kStateChanged;
        if (HoldsCard(state)) return true;
      } else if (code != pcsc::kTimeout) {
        // The service went away or restarted: a new context and fresh reader states next time,
        // after a pause like that of a machine without readers.
        Release();
        anyReader = false;
        return false;
      }
    }
    return false;
  }

 private:
  void Release() {
    if (context_ != 0) pcsc_.ReleaseContext(context_);
    context_ = 0;
    states_.clear();
  }

  PcscApi& pcsc_;
  PcscHandle context_ = 0;
  std::map<std::string, std::uint32_t> states_;
};

}  // namespace

bool WaitForCardInReader(PcscApi& pcsc, milliseconds limit, const std::function<void()>& waiting) {
  const Clock::time_point end = Clock::now() + limit;
  CardWatch watch(pcsc);
  bool said = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
    const milliseconds slice = std::max(milliseconds{0}, std::min(kSlice, left));
    bool anyReader = false;
    if (watch.LookOnce(slice, anyReader)) return true;
    if (Clock::now() >= end) return false;
    if (!said && waiting) waiting();
    said = true;
    // Without a reader there is nothing to block on: pcscd or its reader driver is starting.
    if (!anyReader) std::this_thread::sleep_for(slice);
  }
}

}  // namespace kasse
