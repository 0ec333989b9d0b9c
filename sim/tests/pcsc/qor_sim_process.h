#pragma once
// One qor-sim process of a test, started with the object and stopped with it. Without a
// --state of the test's own its card lives in a fresh temporary folder, never in the user's.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/tests/support/test_folders.h"

namespace kasse {

class QorSimProcess {
 public:
  // `endSignal` stops the process when the object goes.
  explicit QorSimProcess(std::vector<std::string> args, int endSignal = SIGTERM)
      : args_(std::move(args)), endSignal_(endSignal) {
    if (std::find(args_.begin(), args_.end(), "--state") == args_.end()) {
      const std::filesystem::path& folder = folder_.emplace("qor-sim-card").Path();
      args_.insert(args_.end(), {"--state", (folder / "card.state").string()});
      // Its issuer too: a test never touches the user's.
      if (std::find(args_.begin(), args_.end(), "--issuer") == args_.end())
        args_.insert(args_.end(), {"--issuer", (folder / "issuer").string()});
    }
    Start();
  }
  ~QorSimProcess() { Stop(endSignal_); }
  QorSimProcess(const QorSimProcess&) = delete;
  QorSimProcess& operator=(const QorSimProcess&) = delete;

  void Start() {
    std::string program = std::string(KASSE_BIN_DIR) + "/qor-sim";
    std::vector<char*> argv{program.data()};
    for (std::string& arg : args_)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }

  // The wait status, or -1 when none runs.
  int Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  std::vector<std::string> args_;
  int endSignal_;
  std::optional<testing::TempFolder> folder_;  // the card's own, when the test named none
  pid_t pid_ = -1;
};

}  // namespace kasse
