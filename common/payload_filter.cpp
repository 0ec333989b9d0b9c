#include "common/payload_filter.h"

#include <algorithm>
#include <optional>

namespace kasse {
namespace {

bool IsKeptWhole(Byte tag) {
  switch (tag) {
    case 0x9A:  // the card's debug hash: its bytes must never be taken for tags
    case 0x9E:
    case 0xC4:
    case 0xC5:
    case 0xC6:
    case 0xC7:
    case 0xC9:
    case 0xCA:
    case 0xCB:
    case 0xCD:
    case 0xCE:
    case 0xD8:
    case 0xDB:
      return true;
    default:
      return false;
  }
}

// Removes the element at i (tag, length byte, value) and returns how many bytes went.
std::size_t RemoveElement(Bytes& data, std::size_t i) {
  const std::size_t wanted = i + 1 < data.size() ? std::size_t{data[i + 1]} + 2 : 1;
  const std::size_t size = std::min(wanted, data.size() - i);
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(i);
  data.erase(first, first + static_cast<std::ptrdiff_t>(size));
  return size;
}

}  // namespace

void FilterPayload(Bytes& data) {
  std::optional<std::size_t> containerLength;  // index of the length byte of the last E1..E6
  std::size_t i = 0;
  while (i < data.size()) {
    const Byte tag = data[i];
    if (tag == 0xC8 || tag == 0xE7 || tag == 0xE8) {
      RemoveElement(data, i);
    } else if (tag == 0xD9 || tag == 0xDA) {
      const std::size_t removed = RemoveElement(data, i);
      if (containerLength) {
        Byte& length = data[*containerLength];
        length = static_cast<Byte>(length >= removed ? length - removed : 0);
      }
    } else if (tag >= 0xE1 && tag <= 0xE6) {
      if (i + 1 >= data.size()) break;
      containerLength = i + 1;
      i += 2;
    } else if (IsKeptWhole(tag)) {
      if (i + 1 >= data.size()) break;
      i += std::size_t{data[i + 1]} + 2;
    } else {
      i += 1;
    }
  }
}

}  // namespace kasse
