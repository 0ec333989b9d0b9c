#pragma once
// TPCSCConnector: the one reader connector of the register. It lists the readers, selects one,
// watches it for insertion and removal on a background thread, connects to the card and
// transmits raw command bytes. It knows nothing of any card application.
// Thread use: every member is called on the owner's thread, and every event is raised there,
// from the calling operation or from ProcessPendingEvents. The watcher thread only waits for
// reader state changes and posts them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "card/pcsc_api.h"
#include "card/pcsc_errors.h"
#include "card/transmit_worker.h"
#include "card/watcher_queue.h"
#include "common/bytes.h"
#include "common/card_commands.h"

namespace kasse {

enum class TErrSource { esInit, esConnect, esGetStatus, esTransmit };
enum class TNeededPIN { npPIN1, npPIN2, npPUK1, npPUK2 };

class TPCSCConnector {
 public:
  static constexpr int kMaxReaders = 11;
  static constexpr std::size_t kMaxCommand = 260;
  static constexpr std::size_t kResponseBuffer = 260;
  static constexpr std::size_t kAttributeBuffer = 127;

  explicit TPCSCConnector(PcscApi& api);
  ~TPCSCConnector();
  TPCSCConnector(const TPCSCConnector&) = delete;
  TPCSCConnector& operator=(const TPCSCConnector&) = delete;

  int UseReaderNum() const { return useReaderNum_; }
  void SetUseReaderNum(int value);
  const std::vector<std::string>& ReaderList() const { return readerList_; }
  int NumReaders() const { return numReaders_; }
  bool Connected() const { return connected_; }
  bool Opened() const { return readerOpen_; }
  std::uint32_t ReaderState() const { return actReaderState_; }
  int AttrProtocol() const { return static_cast<int>(attrProtocol_); }
  const std::string& AttrICCType() const { return attrIccType_; }
  const Bytes& AttrCardATR() const { return attrCardAtr_; }
  const std::string& AttrVendorName() const { return attrVendorName_; }
  const std::string& AttrVendorSerial() const { return attrVendorSerial_; }
  // The GSM probe's findings, kept for any card a reader may hold; the QOR leaves them empty.
  const Bytes& GSMCurrentFile() const { return gsmCurrentFile_; }
  const Bytes& GSMFileInfo() const { return gsmFileInfo_; }
  const Bytes& GSMDirInfo() const { return gsmDirInfo_; }
  bool GSMVoltage30() const { return gsmVoltage30_; }
  bool GSMVoltage18() const { return gsmVoltage18_; }
  // Always the ReaderList entry at UseReaderNum, or empty.
  const std::string& SelectedReader() const { return selectedReader_; }
  // What went wrong last: the last PC/SC failure raised, or a card that left its reader; none
  // after a connect succeeded. The card error window tells the operator by it.
  CardFault LastFault() const { return FaultOf(lastFailure_); }
  PcscCode LastFailureCode() const { return lastFailure_; }

  std::function<void()> OnCardInserted;
  std::function<void()> OnCardActive;
  std::function<void()> OnCardRemoved;
  std::function<void()> OnCardInvalid;
  std::function<void()> OnReaderWaiting;
  std::function<void()> OnReaderListChange;
  std::function<void(TErrSource, PcscCode)> OnError;
  // Kept as the connector's published PIN event; the QOR asks for no PIN, so it is never raised.
  std::function<void(TNeededPIN)> OnCHVNeeded;
  // The answer of a transmit that outlasted its patience (empty when it failed), raised from
  // ProcessPendingEvents or FinishLateTransmit.
  std::function<void(const Bytes&)> OnLateAnswer;

  bool Init();
  bool Open();
  void Close();
  void CloseReader();
  bool Connect();
  void Disconnect();
  // The card's response; an error for a command longer than kMaxCommand (kTooLong), while a
  // transmit runs (kBusy), or for a failed transmission (what PC/SC said, see pcsc_errors.h).
  Result<Bytes> Transmit(ByteSpan command);
  // `command` followed by `data`, and GET RESPONSE while the card answers 9F xx.
  Result<CardAnswer> TransmitWithStatus(ByteSpan command, ByteSpan data);
  // The transmit runs on the connector's transmit thread; this thread waits at most `patience`
  // for it, running `pump` (when given) every few milliseconds meanwhile. Errors as Transmit's;
  // kBusy also when the patience ran out: the transmit goes on and its answer is raised later
  // (OnLateAnswer).
  Result<Bytes> TransmitWithin(ByteSpan command, std::chrono::milliseconds patience,
                               const std::function<void()>& pump);
  // While a transmit runs, even one that outlasted its patience, the card is not used:
  // Transmit and Connect fail, Init finds no reader, and Disconnect waits for its end.
  bool TransmitRunning() { return worker_.Busy(); }
  // At shutdown: waits up to `limit` for a transmit that outlasted its patience and raises
  // OnLateAnswer with its answer. False when it still runs.
  bool FinishLateTransmit(std::chrono::milliseconds limit);

  // Raises the events for what the watcher posted; returns the number of messages handled.
  std::size_t ProcessPendingEvents();
  bool WaitForEvent(std::chrono::milliseconds timeout) { return queue_.WaitForMessage(timeout); }
  void SetWakeHandler(std::function<void()> wake) { queue_.SetWakeHandler(std::move(wake)); }

 private:
  void Watch(PcscHandle context, std::string reader, std::uint64_t generation);
  void StopWatcher();
  void ProcessStateChange(std::uint32_t oldState, std::uint32_t newState);
  void CardActiveAction();
  void CardRemovedAction();
  void ReadAttributes();
  void ClearAttributes();
  void GsmProbe();
  void RaiseError(TErrSource source, PcscCode code);
  void RaiseLateAnswer(TransmitResult result);

  PcscApi& api_;
  PcscHandle context_ = 0;
  PcscHandle card_ = 0;
  std::vector<std::string> readerList_;
  int numReaders_ = 0;
  int useReaderNum_ = -1;
  std::string selectedReader_;
  bool connected_ = false;
  std::uint32_t attrProtocol_ = 0;
  std::string attrIccType_;
  Bytes attrCardAtr_;
  std::string attrVendorName_;
  std::string attrVendorSerial_;
  Bytes gsmCurrentFile_;
  Bytes gsmFileInfo_;
  Bytes gsmDirInfo_;
  bool gsmVoltage30_ = false;
  bool gsmVoltage18_ = false;

  // Shared with the watcher thread.
  std::atomic<bool> readerOpen_{false};
  std::atomic<std::uint32_t> actReaderState_{0};
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;

  std::uint32_t lastReaderState_ = 0;
  PcscCode lastFailure_ = pcsc::kSuccess;
  std::uint64_t generation_ = 0;
  PcscHandle watchContext_ = 0;
  std::thread watcher_;
  WatcherQueue queue_;
  // A card handle whose disconnect waits for the transmit running on it.
  PcscHandle disconnectAfterTransmit_ = 0;
  TransmitWorker worker_;
};

}  // namespace kasse
