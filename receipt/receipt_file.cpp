#include "receipt/receipt_file.h"

#include "common/files.h"
#include "receipt/receipt_messages.h"

namespace kasse {

Result<void> SaveReceiptText(const std::filesystem::path& file, std::string_view text) {
  if (Result<void> written = WriteFileAtomic(file, text); !written)
    return MakeError(ErrorKind::kIo, receipt_msg::kCannotCreateReceipt,
                     {file.string(), written.error()});
  return {};
}

}  // namespace kasse
