#include "app/main/card_choice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "common/user_folders.h"
#include "register/messages.h"
#include "simreader/embedded_card.h"

namespace kasse {
namespace {

// The holder writes its process id and a line end; anything longer is not a process id.
constexpr std::size_t kPidLimit = 32;

std::string ReadPid(int fd) {
  char text[kPidLimit] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!pid.empty() && std::isdigit(static_cast<unsigned char>(pid.back())) == 0)
    pid.pop_back();
  return pid.find_first_not_of("0123456789") == std::string::npos && !pid.empty() ? pid : "?";
}

}  // namespace

std::optional<std::string> CardLockHolder(const std::filesystem::path& stateFile) {
  const std::filesystem::path lock = stateFile.string() + ".lock";
  // Read-only and never created: looking must not leave a file or a folder behind.
  const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> holder;
  // The holder keeps an exclusive lock: a shared one is refused exactly while it does. Taken,
  // it is given back at once.
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) holder = ReadPid(fd);
  }
  ::close(fd);
  return holder;
}

std::filesystem::path SimStateFile(const CardOptions& card) {
  return card.stateFile.empty() ? DefaultCardStateFile(card.simVersion) : card.stateFile;
}

std::unique_ptr<CardBackend> MakeCardBackend(const CardOptions& card) {
  if (!card.simulated) return std::make_unique<PcscLiteBackend>();
  sim::EngineOptions engine;
  engine.stateFile = SimStateFile(card);
  engine.versionLevel = card.simVersion;
  engine.startLifecycle =
      card.simPersonalised ? sim::Lifecycle::kPersonalised : sim::Lifecycle::kActivated;
  engine.transportPin = card.simPin;
  return std::make_unique<EmbeddedCard>(std::move(engine));
}

CardChoice ChooseCard(CardOptions card, bool named) {
  CardChoice choice{std::move(card), std::nullopt};
  if (named) return choice;
  const std::filesystem::path stateFile = SimStateFile(choice.card);
  if (const std::optional<std::string> holder = CardLockHolder(stateFile)) {
    choice.card.simulated = false;
    choice.note =
        MakeError(ErrorKind::kCard, msg::kCardChosenThroughPcscd, {stateFile.string(), *holder});
  } else {
    choice.card.simulated = true;
    choice.note = MakeError(ErrorKind::kCard, msg::kCardChosenInRegister, {stateFile.string()});
  }
  return choice;
}

}  // namespace kasse
