#include "sim/embedded_reader.h"

namespace kasse::sim {

EmbeddedReader::EmbeddedReader(EngineOptions options)
    : engine_(std::make_unique<QorEngine>(std::move(options))) {}

EmbeddedReader::~EmbeddedReader() {
  Cancel();
}

Bytes EmbeddedReader::Atr() const {
  std::lock_guard lock(mutex_);
  return present_ ? engine_->Atr() : Bytes{};
}

std::optional<Error> EmbeddedReader::StartError() const {
  std::lock_guard lock(mutex_);
  return engine_->StartError();
}

bool EmbeddedReader::CardPresent() const {
  std::lock_guard lock(mutex_);
  return present_;
}

void EmbeddedReader::InsertCard() {
  {
    std::lock_guard lock(mutex_);
    if (present_) return;
    present_ = true;
    engine_->Reset();
    ++counter_;
  }
  changed_.notify_all();
}

void EmbeddedReader::RemoveCard() {
  {
    std::lock_guard lock(mutex_);
    if (!present_) return;
    present_ = false;
    engine_->Reset();
    ++counter_;
  }
  changed_.notify_all();
}

void EmbeddedReader::ResetCard() {
  std::lock_guard lock(mutex_);
  engine_->Reset();
}

Result<Bytes> EmbeddedReader::Transmit(ByteSpan command) {
  std::lock_guard lock(mutex_);
  if (!present_) return MakeError(ErrorKind::kCard, "no card in the reader");
  return engine_->Process(command);
}

std::uint64_t EmbeddedReader::WaitForChange(std::uint64_t seenCounter,
                                            std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = cancelGeneration_;
  changed_.wait_for(lock, timeout,
                    [&] { return counter_ != seenCounter || cancelGeneration_ != generation; });
  return counter_;
}

void EmbeddedReader::Cancel() {
  {
    std::lock_guard lock(mutex_);
    ++cancelGeneration_;
  }
  changed_.notify_all();
}

std::uint64_t EmbeddedReader::ChangeCounter() const {
  std::lock_guard lock(mutex_);
  return counter_;
}

}  // namespace kasse::sim
