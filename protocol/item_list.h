#pragma once
// The item list of one receipt: the positions as tagged elements, shown as text and hashed
// (SHA-1, on the card when asked) for the receipt record.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"
#include "common/language_texts.h"
#include "common/result.h"
#include "common/sha.h"
#include "monitor/function_monitor.h"
#include "protocol/vat_container.h"

namespace kasse {

class CardHasher {
 public:
  virtual ~CardHasher() = default;
  // The card's SHA-1 of the data, or nothing when the card failed.
  virtual std::optional<Sha1Digest> HashOnCard(ByteSpan data) = 0;
};

struct ItemInput {
  std::string quantity, unit, name;
  bool isDiscount = false, isVoucher = false, exclusiveTax = false;
  std::array<std::string, 8> amounts;
};

// The quantity as the item list writes it: read with decimal comma or point, rounded to six
// decimals (halves to even), shortest form with "." ("2,5" gives "2.5"); empty means "1".
// kMalformed for a text that is not a finite number, kTooLong beyond 16 characters.
Result<std::string> ItemQuantityText(std::string_view quantity);

class ItemList {
 public:
  ItemList(FunctionMonitor& monitor, const LanguageTexts& texts);

  // 0; -1 when the quantity text is too long, -2 when it is not a number (the item text then
  // holds an empty item and nothing is encoded or booked).
  int EncodeItem(const ItemInput& item, VatContainers& containers, int versionLevel);
  // A value longer than 255 bytes is cut to 255, as the length is one byte.
  void AppendItemElement(Byte tag, ByteSpan value);
  void ResetItemList(VatContainers& containers, const std::array<double, 6>& rates);
  // SHA-1, or the card when cardHasher is given; falls back to SHA-1 with a monitor line
  // saying so when the card fails. Writes the two monitor lines; the S-file writes of the
  // encoded list are done by the caller (the record builder) from ItemListBytes().
  Sha1Digest HashItemList(CardHasher* cardHasher);

  const Bytes& ItemListBytes() const { return bytes_; }
  const std::string& ItemListText() const { return text_; }
  void AppendText(std::string_view text);  // "</itemList>" is appended by the builder
  const Sha1Digest& ItemHash() const { return hash_; }

 private:
  FunctionMonitor& monitor_;
  const LanguageTexts& texts_;
  Bytes bytes_;
  std::string text_;
  Sha1Digest hash_{};
};

}  // namespace kasse
