#pragma once
// The module matrix of a QR symbol: square, row-major, bit 0 of each byte set for a dark
// module. Error-correction level M, the smallest version that holds the text.

#include <optional>
#include <string_view>

#include "common/bytes.h"

namespace kasse {

struct QrSymbol {
  int size = 0;   // modules per side
  Bytes modules;  // size * size bytes
  bool Dark(int row, int column) const {
    return (modules[static_cast<std::size_t>(row * size + column)] & 1) != 0;
  }
};

// Nothing for an empty text or one too long for any symbol.
std::optional<QrSymbol> RenderQrModules(std::string_view text);

}  // namespace kasse
