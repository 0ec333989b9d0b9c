#include "card/pcsc_connector.h"

namespace kasse {
namespace {

// The watcher's waits are bounded so that a cancellation arriving just before a wait starts
// cannot keep it blocked; timeouts are not reported.
constexpr std::chrono::milliseconds kWatchSlice{500};
// After a failed wait (reader gone, service stopped) the next try comes this much later, so a
// persistent failure does not become a busy loop flooding the owner with messages.
constexpr std::chrono::milliseconds kRetryPause{500};

}  // namespace

TPCSCConnector::TPCSCConnector(PcscApi& api) : api_(api) {}

TPCSCConnector::~TPCSCConnector() {
  // The transmit thread may still use the card handle and its context.
  while (!FinishLateTransmit(std::chrono::hours(1))) {
  }
  Close();
  StopWatcher();
  if (context_ != 0) api_.ReleaseContext(context_);
}

void TPCSCConnector::RaiseError(TErrSource source, PcscCode code) {
  // A refused request (a call on a handle that is gone, say) or an unknown code mostly follows
  // a fault that says more: it does not hide that one.
  const CardFault fault = FaultOf(code);
  const bool followsOnly = fault == CardFault::kOther || fault == CardFault::kRequestRefused;
  if (fault != CardFault::kCancelled && (!followsOnly || lastFailure_ == pcsc::kSuccess))
    lastFailure_ = code;
  if (OnError) OnError(source, code);
}

bool TPCSCConnector::Init() {
  numReaders_ = 0;
  if (worker_.Busy()) return false;
  Close();
  if (context_ != 0 && api_.IsValidContext(context_)) api_.ReleaseContext(context_);
  context_ = 0;
  PcscCode rv = api_.EstablishContext(context_);
  if (rv != pcsc::kSuccess) {
    context_ = 0;
    useReaderNum_ = -1;
    selectedReader_.clear();
    RaiseError(TErrSource::esInit, rv);
    return false;
  }
  std::string multiString;
  rv = api_.ListReaders(context_, multiString);
  if (rv != pcsc::kSuccess) {
    useReaderNum_ = -1;
    selectedReader_.clear();
    RaiseError(TErrSource::esInit, rv);
    return false;
  }
  readerList_.clear();
  std::size_t start = 0;
  while (start < multiString.size() && static_cast<int>(readerList_.size()) < kMaxReaders) {
    std::size_t end = multiString.find('\0', start);
    if (end == std::string::npos) end = multiString.size();
    if (end > start) readerList_.push_back(multiString.substr(start, end - start));
    start = end + 1;
  }
  numReaders_ = static_cast<int>(readerList_.size());
  // The selection keeps its number but takes its name from the new list.
  if (useReaderNum_ >= 0 && useReaderNum_ < numReaders_) {
    selectedReader_ = readerList_[static_cast<std::size_t>(useReaderNum_)];
  } else {
    useReaderNum_ = -1;
    selectedReader_.clear();
  }
  if (numReaders_ > 0) {
    if (OnReaderListChange) OnReaderListChange();
    return true;
  }
  return false;
}

void TPCSCConnector::SetUseReaderNum(int value) {
  if (value == useReaderNum_) return;
  Close();
  if (value < 0 || value >= static_cast<int>(readerList_.size())) {
    selectedReader_.clear();
    useReaderNum_ = -1;
  } else {
    selectedReader_ = readerList_[static_cast<std::size_t>(value)];
    useReaderNum_ = value;
  }
}

bool TPCSCConnector::Open() {
  Close();
  StopWatcher();
  if (useReaderNum_ == -1 || !api_.IsValidContext(context_)) return false;
  // The watcher waits on a context of its own: a status wait may hold its context while this
  // thread transmits on the other.
  PcscHandle watchContext = 0;
  if (api_.EstablishContext(watchContext) != pcsc::kSuccess) return false;
  watchContext_ = watchContext;
  readerOpen_ = true;
  actReaderState_ = 0;
  lastReaderState_ = 0;
  ++generation_;
  watcher_ = std::thread(&TPCSCConnector::Watch, this, watchContext, selectedReader_, generation_);
  return true;
}

void TPCSCConnector::Watch(PcscHandle context, std::string reader, std::uint64_t generation) {
  std::uint32_t eventState = 0;
  while (readerOpen_) {
    const std::uint32_t current = eventState;
    const PcscCode rv = api_.GetStatusChange(context, reader, current, eventState, kWatchSlice);
    if (rv == pcsc::kTimeout) {
      eventState = current;
      continue;
    }
    actReaderState_ = eventState;
    queue_.Post({rv, eventState, generation});
    if (rv != pcsc::kSuccess && rv != pcsc::kCancelled) {
      std::unique_lock lock(stopMutex_);
      stopSignal_.wait_for(lock, kRetryPause, [this] { return !readerOpen_; });
    }
  }
}

void TPCSCConnector::StopWatcher() {
  if (!watcher_.joinable()) return;
  {
    std::lock_guard lock(stopMutex_);
    readerOpen_ = false;
  }
  stopSignal_.notify_all();
  api_.Cancel(watchContext_);
  watcher_.join();
  api_.ReleaseContext(watchContext_);
  watchContext_ = 0;
}

void TPCSCConnector::CloseReader() {
  StopWatcher();
  readerOpen_ = false;
  Disconnect();
}

void TPCSCConnector::Close() {
  Disconnect();
  if (readerOpen_ || watcher_.joinable()) CloseReader();
}

bool TPCSCConnector::Connect() {
  Disconnect();
  if (useReaderNum_ <= -1 || worker_.Busy()) return false;
  // Attributes of a card in another reader must not pass for this one's.
  ClearAttributes();
  std::uint32_t protocol = 0;
  PcscHandle card = 0;
  const PcscCode rv = api_.Connect(context_, selectedReader_, pcsc::kProtocolMask, card, protocol);
  attrProtocol_ = protocol;
  if (rv == pcsc::kSuccess) {
    card_ = card;
    connected_ = true;
    lastFailure_ = pcsc::kSuccess;
    CardActiveAction();
  } else if (rv == pcsc::kRemovedCard) {
    connected_ = true;
  } else {
    connected_ = false;
    RaiseError(TErrSource::esConnect, rv);
  }
  return connected_;
}

void TPCSCConnector::Disconnect() {
  if (!connected_) return;
  if (card_ != 0 && worker_.Busy()) {
    disconnectAfterTransmit_ = card_;
  } else if (card_ != 0) {
    api_.Disconnect(card_, Disposition::kResetCard);
  }
  card_ = 0;
  connected_ = false;
}

namespace {

Error TooLong() {
  return MakeError(ErrorKind::kTooLong, "the card command is longer than " +
                                            std::to_string(TPCSCConnector::kMaxCommand) + " bytes");
}

Error Busy() {
  return MakeError(ErrorKind::kBusy, "an earlier card command still runs");
}

}  // namespace

Result<Bytes> TPCSCConnector::Transmit(ByteSpan command) {
  if (command.size() > kMaxCommand) return TooLong();
  if (worker_.Busy()) return Busy();
  Bytes response;
  const PcscCode rv = api_.Transmit(card_, attrProtocol_, command, kResponseBuffer, response);
  if (rv != pcsc::kSuccess) {
    RaiseError(TErrSource::esTransmit, rv);
    return PcscError(rv);
  }
  if (response.size() > kResponseBuffer) response.resize(kResponseBuffer);
  return response;
}

Result<Bytes> TPCSCConnector::TransmitWithin(ByteSpan command, std::chrono::milliseconds patience,
                                             const std::function<void()>& pump) {
  if (command.size() > kMaxCommand) return TooLong();
  const bool started = worker_.Start([this, card = card_, protocol = attrProtocol_,
                                      bytes = Bytes(command.begin(), command.end())] {
    TransmitResult result;
    result.code = api_.Transmit(card, protocol, bytes, kResponseBuffer, result.response);
    return result;
  });
  if (!started) return Busy();
  std::optional<TransmitResult> result =
      worker_.WaitUntil(TransmitWorker::Clock::now() + patience, pump);
  if (!result)
    return MakeError(ErrorKind::kBusy,
                     "the card did not answer within " + std::to_string(patience.count()) + " ms");
  if (result->code != pcsc::kSuccess) {
    RaiseError(TErrSource::esTransmit, result->code);
    return PcscError(result->code);
  }
  Bytes response = std::move(result->response);
  if (response.size() > kResponseBuffer) response.resize(kResponseBuffer);
  return response;
}

void TPCSCConnector::RaiseLateAnswer(TransmitResult result) {
  if (disconnectAfterTransmit_ != 0) {
    api_.Disconnect(disconnectAfterTransmit_, Disposition::kResetCard);
    disconnectAfterTransmit_ = 0;
  }
  if (result.code != pcsc::kSuccess) {
    RaiseError(TErrSource::esTransmit, result.code);
    result.response.clear();
  }
  if (result.response.size() > kResponseBuffer) result.response.resize(kResponseBuffer);
  if (OnLateAnswer) OnLateAnswer(result.response);
}

bool TPCSCConnector::FinishLateTransmit(std::chrono::milliseconds limit) {
  if (!worker_.Busy()) return true;
  std::optional<TransmitResult> late = worker_.WaitForLate(limit);
  if (!late) return !worker_.Busy();
  RaiseLateAnswer(std::move(*late));
  return true;
}

void TPCSCConnector::CardActiveAction() {
  ReadAttributes();
  if (attrProtocol_ == 0) return;
  GsmProbe();
  if (OnCardActive) OnCardActive();
}

void TPCSCConnector::CardRemovedAction() {
  ClearAttributes();
  if (OnCardRemoved) OnCardRemoved();
  Disconnect();
}

std::size_t TPCSCConnector::ProcessPendingEvents() {
  std::size_t handled = 0;
  if (std::optional<TransmitResult> late = worker_.TakeLate()) {
    ++handled;
    RaiseLateAnswer(std::move(*late));
  }
  for (const WatcherMessage& message : queue_.TakeAll()) {
    // A handler may have closed or reopened the reader: what an earlier watcher posted is stale.
    if (message.generation != generation_ || !readerOpen_) continue;
    ++handled;
    if (message.code != pcsc::kSuccess) {
      RaiseError(TErrSource::esGetStatus, message.code);
      // The service or the reader went while the card was idle: no state word will say so,
      // and the card went with them.
      const CardFault fault = FaultOf(message.code);
      if (connected_ &&
          (fault == CardFault::kServiceStopped || fault == CardFault::kReaderRemoved)) {
        CardRemovedAction();
        continue;
      }
    }
    if (message.eventState != lastReaderState_)
      ProcessStateChange(lastReaderState_, message.eventState);
  }
  return handled;
}

void TPCSCConnector::ProcessStateChange(std::uint32_t oldState, std::uint32_t newState) {
  auto rose = [&](std::uint32_t bit) { return (newState & bit) && !(oldState & bit); };
  // The state word counts as processed before any handler runs: a handler may reopen the
  // reader, which starts again from state 0.
  lastReaderState_ = newState;
  const std::uint64_t generation = generation_;
  if (rose(pcsc::kStateMute) && OnCardInvalid) OnCardInvalid();
  if (generation != generation_) return;
  if (rose(pcsc::kStatePresent) && !(newState & pcsc::kStateMute) &&
      !(newState & pcsc::kStateIgnore)) {
    if (OnCardInserted) OnCardInserted();
    if (generation != generation_) return;
    if (connected_) CardActiveAction();
  }
  if (generation != generation_) return;
  // Before the watcher's first report the state is 0: a connected card that is gone by then
  // was removed all the same.
  const bool hadCard = (oldState & pcsc::kStatePresent) || (oldState == 0 && connected_);
  if (hadCard && !(newState & pcsc::kStatePresent)) {
    // The card went with its reader, or on its own; a reader or service failure already
    // raised says more than either.
    const CardFault known = FaultOf(lastFailure_);
    if (newState & (pcsc::kStateUnknown | pcsc::kStateUnavailable))
      lastFailure_ = pcsc::kReaderUnavailable;
    else if (known != CardFault::kReaderRemoved && known != CardFault::kServiceStopped)
      lastFailure_ = pcsc::kRemovedCard;
    CardRemovedAction();
  }
  if (generation != generation_) return;
  if (rose(pcsc::kStateEmpty) && OnReaderWaiting) OnReaderWaiting();
}

}  // namespace kasse
