#pragma once
// The PC/SC interface over in-process readers (`--card sim`): no service, the simulated QOR in
// the same process. It behaves like pcsc-lite where the connector can tell: reader states with
// an event counter in the high word, a blocking status wait ended by Cancel, the same return
// codes.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "card/pcsc_api.h"
#include "sim/embedded_reader.h"

namespace kasse {

// One reader slot. Thread-safe like sim::EmbeddedReader, whose shape it has.
class VirtualReader {
 public:
  virtual ~VirtualReader() = default;
  virtual Bytes Atr() const = 0;
  virtual bool CardPresent() const = 0;
  virtual Result<Bytes> Transmit(ByteSpan command) = 0;
  virtual std::uint64_t WaitForChange(std::uint64_t seenCounter,
                                      std::chrono::milliseconds timeout) = 0;
  virtual void Cancel() = 0;
  virtual std::uint64_t ChangeCounter() const = 0;
};

// The simulated QOR's reader in a slot; the reader stays owned by the caller.
class SimReaderSlot final : public VirtualReader {
 public:
  // Tests: runs on the transmitting thread before each command reaches the card, so that a
  // test can hold the card's answer.
  using BeforeTransmit = std::function<void(ByteSpan command)>;
  explicit SimReaderSlot(sim::EmbeddedReader& reader, BeforeTransmit before = nullptr)
      : reader_(reader), before_(std::move(before)) {}
  Bytes Atr() const override { return reader_.Atr(); }
  bool CardPresent() const override { return reader_.CardPresent(); }
  Result<Bytes> Transmit(ByteSpan command) override {
    if (before_) before_(command);
    return reader_.Transmit(command);
  }
  std::uint64_t WaitForChange(std::uint64_t seen, std::chrono::milliseconds timeout) override {
    return reader_.WaitForChange(seen, timeout);
  }
  void Cancel() override { reader_.Cancel(); }
  std::uint64_t ChangeCounter() const override { return reader_.ChangeCounter(); }

 private:
  sim::EmbeddedReader& reader_;
  BeforeTransmit before_;
};

class EmbeddedPcscApi final : public PcscApi {
 public:
  // Readers are listed in the order added; the slots must outlive this object.
  void AddReader(std::string name, VirtualReader& reader);

  PcscCode EstablishContext(PcscHandle& context) override;
  PcscCode ReleaseContext(PcscHandle context) override;
  bool IsValidContext(PcscHandle context) override;
  PcscCode ListReaders(PcscHandle context, std::string& multiString) override;
  PcscCode Connect(PcscHandle context, const std::string& reader, std::uint32_t protocols,
                   PcscHandle& card, std::uint32_t& activeProtocol) override;
  PcscCode Disconnect(PcscHandle card, Disposition disposition) override;
  PcscCode GetStatusChange(PcscHandle context, const std::string& reader,
                           std::uint32_t currentState, std::uint32_t& eventState,
                           std::chrono::milliseconds timeout) override;
  PcscCode Cancel(PcscHandle context) override;
  PcscCode GetAttrib(PcscHandle card, std::uint32_t attributeId, std::size_t maxLength,
                     Bytes& value) override;
  PcscCode Transmit(PcscHandle card, std::uint32_t protocol, ByteSpan command,
                    std::size_t maxResponse, Bytes& response) override;

 private:
  struct Slot {
    std::string name;
    VirtualReader* reader;
  };
  VirtualReader* FindReader(const std::string& name);
  // Takes the lock itself: the reader's calls run outside it.
  VirtualReader* CardReader(PcscHandle card);
  bool TakeCancel(PcscHandle context);

  std::mutex mutex_;
  std::vector<Slot> slots_;
  std::set<PcscHandle> contexts_;
  std::set<PcscHandle> cancelled_;
  std::map<PcscHandle, std::size_t> cards_;  // card handle to slot index
  PcscHandle lastHandle_ = 0;
};

}  // namespace kasse
