#pragma once
// The verification service's cost: the floor a machine sets (its cores times the rate of one
// ECDSA brainpoolP192r1 verification with the key decoded once) and a load client that keeps
// connections alive and asks for checks as fast as the service answers.

#include <filesystem>
#include <string>

#include "common/result.h"

namespace kasse::bench {

// Writes an issuer (folder/issuer.der), a card certificate it issued (folder/certs/card.der)
// and the t1 value of a receipt that card signed (folder/t1.txt).
Result<void> PrepareVerifyReceipt(const std::filesystem::path& folder);

// Microseconds of one signature verification with the key object made once, measured for
// about `seconds` on this thread.
double VerificationMicroseconds(double seconds);

// Verifications per second with one such loop on each of `cores` threads at once: cores x 1 /
// the cost of one, under whatever else the machine is doing at the moment.
double VerificationFloor(double seconds, int cores);

struct LoadRun {
  std::size_t answered = 0, failed = 0;  // failed: not a valid verdict, or no answer
  double seconds = 0, p50Milliseconds = 0, p99Milliseconds = 0;
  double Rate() const { return seconds > 0 ? static_cast<double>(answered) / seconds : 0; }
};

// `clients` threads, one keep-alive connection each, for `seconds`.
LoadRun RunVerifyLoad(int port, const std::string& t1, int clients, double seconds);

}  // namespace kasse::bench
