#include "receipt/receipt_file.h"

#include "common/files.h"

namespace kasse {

Result<void> SaveReceiptText(const std::filesystem::path& file, std::string_view text) {
  if (Result<void> written = WriteFileAtomic(file, text); !written)
    return MakeError(ErrorKind::kIo,
                     "cannot create " + file.string() + " (" + written.error().message + ")");
  return {};
}

}  // namespace kasse
