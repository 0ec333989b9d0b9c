// The card's answer to TRANSACTION, and the VERIFY SIGNATURE command built from it.

#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "protocol/card_answers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  const std::size_t mark = input.TakeByte();
  const ByteSpan verifyRecord = input.TakeBytes(input.TakeByte());
  const ByteSpan answer = input.Rest();
  if (Result<TransactionAnswer> read = ReadTransactionAnswer(answer)) {
    if (read->signature.size() != 48) fuzz::Violated("signature of 48 bytes");
  } else if (read.error().offset > answer.size()) {
    fuzz::Violated("error offset inside the answer");
  }
  if (Result<Bytes> command = BuildVerifyRecord(verifyRecord, mark, answer)) {
    // A short command: Lc is one byte, the data at most 250 bytes.
    if (command->size() < 6 || command->size() > 4 + 1 + 250 + 1)
      fuzz::Violated("VERIFY SIGNATURE is a short command");
  }
  (void)ReadCardInteger(answer);
  return 0;
}
