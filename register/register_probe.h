#pragma once
// What tests reach behind the register's front: the signing exchange, the journal files and
// the function monitor (to write lines of their own). Front-ends never include this; they see
// the register's operations and views only.

#include "register/register.h"

namespace kasse {

struct RegisterProbe {
  static const TransactionSigning& Signing(const Register& reg) { return reg.signing_; }
  static const Journal& JournalFiles(const Register& reg) { return reg.journal_; }
  static FunctionMonitor& Monitor(Register& reg) { return reg.monitor_; }
};

}  // namespace kasse
