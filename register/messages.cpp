#include "register/messages.h"

#include <span>

#include "card/card_messages.h"
#include "common/file_messages.h"
#include "common/files.h"
#include "journal/journal_messages.h"
#include "protocol/protocol_messages.h"
#include "receipt/receipt_messages.h"

namespace kasse {

Error JournalError(const MessageId& what, std::vector<MessageArg> args, const Error& cause) {
  args.emplace_back(cause);
  args.emplace_back(MakeError(ErrorKind::kIo, AdviceFor(cause.systemError)));
  Error error = MakeError(ErrorKind::kIo, what, std::move(args));
  error.systemError = cause.systemError;
  return error;
}

std::vector<const MessageId*> RegisterMessages() {
  std::vector<const MessageId*> all;
  for (const auto& layer : {std::span<const MessageId* const>(msg::kAll),
                            std::span<const MessageId* const>(file_msg::kAll),
                            std::span<const MessageId* const>(journal_msg::kAll),
                            std::span<const MessageId* const>(receipt_msg::kAll),
                            std::span<const MessageId* const>(card_msg::kAll),
                            std::span<const MessageId* const>(protocol_msg::kAll)})
    all.insert(all.end(), layer.begin(), layer.end());
  return all;
}

}  // namespace kasse
