#include "protocol/qr_symbol.h"

#include <qrencode.h>

#include <memory>
#include <string>

namespace kasse {

std::optional<QrSymbol> RenderQrModules(std::string_view text) {
  if (text.empty()) return {};
  const std::string zeroTerminated(text);
  std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
      QRcode_encodeString8bit(zeroTerminated.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
  if (!code) return {};
  QrSymbol symbol;
  symbol.size = code->width;
  const auto count = static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width);
  symbol.modules.assign(code->data, code->data + count);
  for (Byte& module : symbol.modules)
    module &= 1;
  return symbol;
}

}  // namespace kasse
