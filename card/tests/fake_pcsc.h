#pragma once
// A scripted PC/SC service for the tests: readers with or without a card, and per reader an
// APDU script (request, response, one comment per step). Reader states can be changed from the
// test while the connector's watcher waits on them.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "card/pcsc_api.h"
#include "common/hex_text.h"

namespace kasse::testing {

struct ApduStep {
  std::string command;   // written form as sent
  std::string response;  // written form
  std::string comment;
};

struct FakeReader {
  std::string name;
  std::uint32_t state = pcsc::kStatePresent;
  Bytes atr = {0x3B, 0x80, 0x80, 0x01, 0x01};
  std::deque<ApduStep> script;
};

class FakePcsc : public PcscApi {
 public:
  void AddReader(const std::string& name, std::deque<ApduStep> script = {},
                 std::uint32_t state = pcsc::kStatePresent) {
    std::lock_guard lock(mutex_);
    readers_.push_back({name, state, {0x3B, 0x80, 0x80, 0x01, 0x01}, std::move(script)});
  }
  void Script(std::size_t reader, std::deque<ApduStep> steps) {
    std::lock_guard lock(mutex_);
    for (auto& step : steps)
      readers_[reader].script.push_back(std::move(step));
  }
  void SetState(std::size_t reader, std::uint32_t state) {
    {
      std::lock_guard lock(mutex_);
      readers_[reader].state = state;
    }
    changed_.notify_all();
  }
  void SetTransmitFailure(PcscCode code) { transmitFailure_ = code; }
  // A card that stops answering: every transmit from now on blocks until released.
  void HoldTransmits() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void ReleaseTransmits() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    changed_.notify_all();
  }
  // Transmits that have started and are blocked by HoldTransmits.
  int HeldTransmits() {
    std::lock_guard lock(mutex_);
    return heldTransmits_;
  }
  // The watcher sees no change until released (its waits end as timeouts meanwhile).
  void HoldStatusChanges() {
    std::lock_guard lock(mutex_);
    statusHeld_ = true;
  }
  void ReleaseStatusChanges() {
    {
      std::lock_guard lock(mutex_);
      statusHeld_ = false;
    }
    changed_.notify_all();
  }
  // The watcher's waits fail with `code` (kSuccess: they work again).
  void SetStatusChangeResult(PcscCode code) {
    {
      std::lock_guard lock(mutex_);
      statusResult_ = code;
    }
    changed_.notify_all();
  }
  void SetListResult(PcscCode code) { listResult_ = code; }
  // A service that is not running gives no context at all.
  void SetContextResult(PcscCode code) { contextResult_ = code; }
  // Every command sent, GSM probe included; a copy, since a held transmit adds to it meanwhile.
  std::vector<Bytes> Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  bool ScriptDone(std::size_t reader) {
    std::lock_guard lock(mutex_);
    return readers_[reader].script.empty();
  }
  int OpenContexts() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(contexts_.size());
  }

  PcscCode EstablishContext(PcscHandle& context) override {
    std::lock_guard lock(mutex_);
    if (contextResult_ != pcsc::kSuccess) return contextResult_;
    context = ++lastContext_;
    contexts_.insert(context);
    return pcsc::kSuccess;
  }
  PcscCode ReleaseContext(PcscHandle context) override {
    std::lock_guard lock(mutex_);
    return contexts_.erase(context) ? pcsc::kSuccess : pcsc::kInvalidHandle;
  }
  bool IsValidContext(PcscHandle context) override {
    std::lock_guard lock(mutex_);
    return contexts_.count(context) != 0;
  }
  PcscCode ListReaders(PcscHandle, std::string& multiString) override {
    std::lock_guard lock(mutex_);
    multiString.clear();
    if (listResult_ != pcsc::kSuccess) return listResult_;
    if (readers_.empty()) return pcsc::kNoReaders;
    for (const auto& reader : readers_)
      multiString += reader.name + '\0';
    multiString += '\0';
    return pcsc::kSuccess;
  }
  PcscCode Connect(PcscHandle, const std::string& name, std::uint32_t, PcscHandle& card,
                   std::uint32_t& protocol) override {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < readers_.size(); ++i) {
      if (readers_[i].name != name) continue;
      if (!(readers_[i].state & pcsc::kStatePresent)) return pcsc::kNoSmartcard;
      card = static_cast<PcscHandle>(i + 1);
      protocol = pcsc::kProtocolT1;
      return pcsc::kSuccess;
    }
    return pcsc::kUnknownReader;
  }
  PcscCode Disconnect(PcscHandle, Disposition) override {
    std::lock_guard lock(mutex_);
    ++disconnects_;
    return pcsc::kSuccess;
  }
  int Disconnects() {
    std::lock_guard lock(mutex_);
    return disconnects_;
  }
  PcscCode GetStatusChange(PcscHandle context, const std::string& name, std::uint32_t current,
                           std::uint32_t& event, std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    FakeReader* reader = nullptr;
    for (auto& r : readers_)
      if (r.name == name) reader = &r;
    if (reader == nullptr) return pcsc::kUnknownReader;
    const bool woken = changed_.wait_for(lock, timeout, [&] {
      return cancelled_.count(context) != 0 || statusResult_ != pcsc::kSuccess ||
             (!statusHeld_ && reader->state != current);
    });
    if (cancelled_.erase(context) != 0) return pcsc::kCancelled;
    if (statusResult_ != pcsc::kSuccess) return statusResult_;
    if (!woken) return pcsc::kTimeout;
    event = reader->state;
    return pcsc::kSuccess;
  }
  PcscCode Cancel(PcscHandle context) override {
    {
      std::lock_guard lock(mutex_);
      cancelled_.insert(context);
    }
    changed_.notify_all();
    return pcsc::kSuccess;
  }
  PcscCode GetAttrib(PcscHandle card, std::uint32_t id, std::size_t maxLength,
                     Bytes& value) override {
    std::lock_guard lock(mutex_);
    value.clear();
    if (card <= 0 || static_cast<std::size_t>(card) > readers_.size()) return pcsc::kInvalidHandle;
    const FakeReader& reader = readers_[static_cast<std::size_t>(card - 1)];
    if (id == pcsc::kAttrAtrString) value = reader.atr;
    if (id == pcsc::kAttrVendorName) value = ToBytes("Fake Vendor");
    if (id == pcsc::kAttrCurrentProtocol) value = {2, 0, 0, 0};
    if (id == pcsc::kAttrIccTypePerAtr) value = {1, 0, 0, 0};
    if (value.empty()) return pcsc::kNotTransacted;
    if (value.size() > maxLength) value.resize(maxLength);
    return pcsc::kSuccess;
  }
  PcscCode Transmit(PcscHandle card, std::uint32_t, ByteSpan command, std::size_t,
                    Bytes& response) override {
    std::unique_lock lock(mutex_);
    sent_.emplace_back(command.begin(), command.end());
    response.clear();
    if (held_) {
      ++heldTransmits_;
      changed_.wait(lock, [this] { return !held_; });
      --heldTransmits_;
    }
    if (transmitFailure_ != pcsc::kSuccess) return transmitFailure_;
    if (card <= 0 || static_cast<std::size_t>(card) > readers_.size()) return pcsc::kInvalidHandle;
    FakeReader& reader = readers_[static_cast<std::size_t>(card - 1)];
    const std::string sent = HexWritten(command);
    // The connector's GSM probe on connecting: a card without GSM files rejects the class.
    if (sent.rfind("A0 A4 00 00 02 7F 20", 0) == 0 &&
        (reader.script.empty() || reader.script.front().command != sent)) {
      response = {0x6E, 0x00};
      return pcsc::kSuccess;
    }
    if (reader.script.empty()) {
      ADD_FAILURE() << "unscripted command " << sent << " to " << reader.name;
      response = {0x6F, 0x00};
      return pcsc::kSuccess;
    }
    const ApduStep step = reader.script.front();
    reader.script.pop_front();
    EXPECT_EQ(sent, step.command) << step.comment;
    response = HexParse(step.response);
    return pcsc::kSuccess;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FakeReader> readers_;
  std::set<PcscHandle> contexts_;
  std::set<PcscHandle> cancelled_;
  PcscHandle lastContext_ = 0;
  PcscCode transmitFailure_ = pcsc::kSuccess;
  PcscCode listResult_ = pcsc::kSuccess;
  PcscCode contextResult_ = pcsc::kSuccess;
  std::vector<Bytes> sent_;
  bool held_ = false;
  bool statusHeld_ = false;
  PcscCode statusResult_ = pcsc::kSuccess;
  int heldTransmits_ = 0;
  int disconnects_ = 0;
};

}  // namespace kasse::testing
