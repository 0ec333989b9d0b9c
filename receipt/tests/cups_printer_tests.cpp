// A raw job through a real scheduler: the test runs its own cupsd on a free loopback port with
// every file in a temporary folder, and a raw queue whose device is a file.

#include "receipt/cups_printer.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/tests/support/test_folders.h"
#include "receipt/raw_print_job.h"

extern char** environ;

namespace kasse {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file) << text;
}

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Scheduler : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists("/usr/sbin/cupsd") || std::system("command -v lpadmin >/dev/null") != 0) {
      skipReason_ = "cupsd or lpadmin is not installed";
      return;
    }
    folder_ = testing::FreshFolder("cups");
    for (const char* sub :
         {"spool", "spool/tmp", "cache", "state", "log", "ppd", "bin/daemon", "bin/backend"})
      fs::create_directories(folder_ / sub);
    if (!InstallHelpers()) {
      skipReason_ = "cannot find the scheduler's cups-exec";
      return;
    }
    port_ = FreePort();
    Configure();
    const std::string files = (folder_ / "cups-files.conf").string();
    const std::string conf = (folder_ / "cupsd.conf").string();
    std::vector<std::string> args = {"/usr/sbin/cupsd", "-f", "-c", conf, "-s", files};
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
    for (int i = 0; i < 100 && pid_ > 0 && !Accepts(port_); ++i)
      std::this_thread::sleep_for(50ms);
    if (pid_ == 0 || !Accepts(port_)) {
      skipReason_ = "cupsd did not start here (see " + (folder_ / "log/error_log").string() + ")";
      return;
    }
    server_ = "127.0.0.1:" + std::to_string(port_);
    ::setenv("CUPS_SERVER", server_.c_str(), 1);
    cupsSetServer(server_.c_str());
    const std::string add = "lpadmin -h " + server_ + " -p KasseRaw -E -v kassefile:/printed 2>" +
                            (folder_ / "log/lpadmin").string();
    // Without -E a new queue refuses jobs.
    const std::string refusing = "lpadmin -h " + server_ + " -p KasseRefusing -v kassefile:/x";
    if (std::system(add.c_str()) != 0 || std::system(refusing.c_str()) != 0)
      skipReason_ = "lpadmin could not add the raw queues";
  }

  static void Configure() {
    Write(folder_ / "cupsd.conf",
          "Listen 127.0.0.1:" + std::to_string(port_) +
              "\nLogLevel warn\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
              "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
              "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    const std::string root = folder_.string();
    Write(folder_ / "cups-files.conf",
          "FileDevice Yes\nServerRoot " + root + "\nRequestRoot " + root + "/spool\nTempDir " +
              root + "/spool/tmp\nCacheDir " + root + "/cache\nStateDir " + root +
              "/state\nErrorLog " + root + "/log/error_log\nAccessLog " + root +
              "/log/access_log\nPageLog " + root +
              "/log/page_log\n"
              "ServerBin " +
              root + "/bin\nDataDir /usr/share/cups\n");
  }

  // A raw queue on a file: device gets no process at all without the full print server
  // package's filters, so the queue's device is a backend of the test's own that copies the
  // job file. Mode 0700 makes the scheduler run it as the test's user.
  static bool InstallHelpers() {
    const fs::path exec = "/usr/lib/cups/daemon/cups-exec";
    if (!fs::exists(exec)) return false;
    fs::create_symlink(exec, folder_ / "bin/daemon/cups-exec");
    const fs::path backend = folder_ / "bin/backend/kassefile";
    Write(backend,
          "#!/bin/sh\n[ $# -eq 0 ] && exit 0\nif [ -n \"$6\" ]; then cat \"$6\"; else cat; fi >" +
              (folder_ / "printed.bin").string() + "\n");
    fs::permissions(backend, fs::perms::owner_all);
    return true;
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
  }

  static inline fs::path folder_;
  static inline std::string server_;
  static inline std::string skipReason_;
  static inline int port_ = 0;
  static inline pid_t pid_ = 0;
};

TEST_F(Scheduler, RawJobArrivesUnchanged) {
  std::string job = BuildRawPrintJob({"Kassenbeleg", "K\xE4se \x80 1,99", ""},
                                     "http://127.0.0.1:8080/verify.php?t1=AAEC-_==");
  job += std::string("\x00\x0A\x0D\xFF", 4);  // bytes a text filter would change
  ASSERT_TRUE(PrintRawJob("KasseRaw", job));
  const fs::path printed = folder_ / "printed.bin";
  for (int i = 0; i < 200 && Slurp(printed).size() < job.size(); ++i)
    std::this_thread::sleep_for(50ms);
  EXPECT_EQ(Slurp(printed), job);
}

TEST_F(Scheduler, RefusedJobIsAnErrorNamingTheQueue) {
  const Result<void> printed = PrintRawJob("KasseRefusing", "x");
  ASSERT_FALSE(printed);
  EXPECT_EQ(printed.error().kind, ErrorKind::kIo);
  EXPECT_NE(printed.error().English().find("\"KasseRefusing\""), std::string::npos);
}

TEST_F(Scheduler, MissingQueueIsNamedInTheMessage) {
  const Result<void> printed = PrintRawJob("NoSuchReceiptQueue", "x");
  ASSERT_FALSE(printed);
  EXPECT_EQ(printed.error().English(),
            "kann Drucker mit Namen \"NoSuchReceiptQueue\" nicht \xF6"
            "ffnen");
}

}  // namespace
}  // namespace kasse
