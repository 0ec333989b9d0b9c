#include "common/payload_filter.h"

#include <algorithm>
#include <optional>

#include "common/card_tags.h"

namespace kasse {
namespace {

bool IsKeptWhole(Byte tag) {
  switch (tag) {
    case tag::kDebugHash:  // the card's debug hash: its bytes must never be taken for tags
    case tag::kSignature:
    case tag::kTpId:
    case tag::kTpIdNo:
    case tag::kOperator:
    case tag::kItemHash:
    case tag::kVatAddon:
    case tag::kTraining:
    case tag::kTransactionSeq:
    case tag::kDate:
    case tag::kTime:
    case tag::kTurnover:
    case tag::kRate:
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
    if (tag == tag::kCurrency || tag == tag::kThirdPartyContainer ||
        tag == tag::kDeliveryNoteContainer) {
      RemoveElement(data, i);
    } else if (tag == tag::kTurnoverNeg || tag == tag::kVat) {
      const std::size_t removed = RemoveElement(data, i);
      if (containerLength) {
        Byte& length = data[*containerLength];
        length = static_cast<Byte>(length >= removed ? length - removed : 0);
      }
    } else if (tag::IsVatContainer(tag)) {
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
