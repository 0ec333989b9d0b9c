// fault-check HOME: the books of every journal pair under HOME/Journal after a fault run.
// Exit 0 when they agree, 1 with one line per violation, 2 when the journals cannot be read.

#include <cstdio>

#include "common/files.h"
#include "faults/fault_books.h"
#include "verify/journal_audit.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: fault-check HOME\n", stderr);
    return 2;
  }
  kasse::FaultBooks books;
  for (const auto& [sPath, lPath] : kasse::JournalPairs(argv[1])) {
    auto s = kasse::ReadFile(sPath);
    auto l = lPath.empty() ? kasse::Result<std::string>(std::string()) : kasse::ReadFile(lPath);
    if (!s || !l) {
      std::fprintf(stderr, "fault-check: cannot read the pair of %s\n", sPath.c_str());
      return 2;
    }
    kasse::ReadFaultBooks(*s, *l, books);
  }
  const std::vector<std::string> problems = kasse::CheckFaultBooks(books);
  for (const std::string& problem : problems)
    std::printf("fault-check: %s\n", problem.c_str());
  std::printf("fault-check: %zu answered, %zu unanswered request(s), %s\n", books.answered.size(),
              books.unansweredRequests, books.closing ? "closing checked" : "no closing");
  return problems.empty() ? 0 : 1;
}
