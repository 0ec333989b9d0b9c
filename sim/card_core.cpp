#include "sim/card_core.h"

#include <thread>

#include "common/card_tags.h"
#include "common/packed.h"
#include "sim/tlv.h"

namespace kasse::sim {

CardCore::CardCore(EngineOptions options, LoadedCard card, CardSigner signer,
                   std::unique_ptr<CardStore> store)
    : options_(std::move(options)),
      state_(std::move(card.books)),
      keys_(std::move(card.keys)),
      signer_(std::move(signer)),
      store_(std::move(store)) {}

CardCore::~CardCore() {
  // On failure the log still holds every record; the store says so.
  if (store_) store_->Close(state_);
}

Result<void> CardCore::Commit(CardState next) {
  if (store_) {
    if (auto recorded = store_->Record(state_, next); !recorded) {
      if (options_.onWriteError) options_.onWriteError(recorded.error());
      return recorded;
    }
  }
  state_ = std::move(next);
  if (store_) store_->SnapshotIfDue(state_, options_.snapshotEvery);
  return {};
}

Result<Bytes> CardCore::Sign(ByteSpan message) const {
  // A real card needs tens to hundreds of milliseconds for a signature.
  if (options_.signDelay.count() > 0) std::this_thread::sleep_for(options_.signDelay);
  return signer_.Sign(message);
}

void CardCore::AppendIdentity(Bytes& out) const {
  AppendElement(out, tag::kTpId, ToBytes(state_.tpId));
  AppendUint32(out, tag::kTpIdNo, state_.tpIdNo);
}

int MonthsBetween(int first, int later) {
  return (later / 100 - first / 100) * 12 + (later % 100 - first % 100);
}

Bytes PackMonth(int month) {
  if (month <= 0) return Bytes(3, 0);
  std::string digits = std::to_string(month);
  digits.insert(0, digits.size() < 6 ? 6 - digits.size() : 0, '0');
  return PackDigits(digits).value_or(Bytes(3, 0));
}

namespace {

// Packed digits of a field of `size` bytes.
Result<int> UnpackDigits(ByteSpan value, std::size_t size, const char* what) {
  if (value.size() != size) return MakeError(ErrorKind::kMalformed, what, 0);
  int result = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const Byte b = value[i];
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return MakeError(ErrorKind::kMalformed, what, i);
    result = result * 100 + (b >> 4) * 10 + (b & 0x0F);
  }
  return result;
}

constexpr const char* kNotDate = "not a packed date";
constexpr const char* kNotMonth = "not a packed month";
constexpr const char* kNotTime = "not a packed time";

}  // namespace

Result<int> UnpackDate(ByteSpan value) {
  const auto date = UnpackDigits(value, 4, kNotDate);
  if (!date) return date;
  const int month = *date / 100 % 100;
  const int day = *date % 100;
  if (month < 1 || month > 12 || day < 1 || day > 31)
    return MakeError(ErrorKind::kMalformed, kNotDate, 0);
  return date;
}

Result<int> UnpackMonth(ByteSpan value) {
  const auto month = UnpackDigits(value, 3, kNotMonth);
  if (month && (*month % 100 < 1 || *month % 100 > 12))
    return MakeError(ErrorKind::kMalformed, kNotMonth, 0);
  return month;
}

Result<int> UnpackTime(ByteSpan value) {
  const auto time = UnpackDigits(value, 2, kNotTime);
  if (time && (*time / 100 > 23 || *time % 100 > 59))
    return MakeError(ErrorKind::kMalformed, kNotTime, 0);
  return time;
}

}  // namespace kasse::sim
