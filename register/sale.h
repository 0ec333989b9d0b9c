#pragma once
// The sale in progress: its receipt text, the positions behind the receipt lines, the state of
// the sale buttons, and the hand-over of each position to the item list. No window code: the
// main window shows what this model holds.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "common/language_texts.h"
#include "common/result.h"
#include "journal/product.h"
#include "protocol/item_list.h"
#include "protocol/transaction_record.h"
#include "protocol/vat_container.h"
#include "register/register_config.h"

namespace kasse {

// What a receipt line shows: a position (index into the sale's positions), the second line of
// a two-line position, or nothing that can be cancelled or edited.
struct LineOwner {
  enum class Kind : std::uint8_t { kNone, kPosition, kContinuationMark };
  Kind kind = Kind::kNone;
  std::size_t position = 0;
};

enum class SaleState { kIdle, kOpen, kTotalled };

// A percentage on the last position: "Rabatt" lowers its price, "Aufschlag" raises it.
enum class PercentSign { kDiscount, kSurcharge };

struct SaleSettings {
  bool trainingMode = false;      // menu "Training"; the sale never changes it
  bool showSecurityText = false;  // menu "Beleg" > "Text", unchecked at start
  bool showQrCode = true;         // menu "Beleg" > "QRCode"
  int versionLevel = 2;           // of the card, for the item list
};

class Sale {
 public:
  static constexpr std::size_t kMaxReceiptLines = 2048;
  static constexpr std::uint32_t kReceiptColour = 0xD3FEFE;  // blue in the high byte

  Sale(const RegisterConfig& config, const LanguageTexts& texts, ItemList& itemList,
       VatContainers& containers);

  // kTooLong when the receipt would pass 2048 lines, kUnusableInput for a quantity or amount
  // the item list or a 32-bit price cannot hold; the sale is then unchanged.
  Result<void> BookPosition(const BookingPosition& given);
  // Negates the position shown at `caretLine` (one past the end means the last line).
  Result<void> CancelPosition(std::size_t caretLine);
  // percent: 0 to 99.
  Result<void> ApplyPercentage(PercentSign sign, std::string_view percentText);
  // The first Summe: the total under the positions. A totalled sale is left as it is.
  Result<void> TotalSale();
  // A cash-in in two halves around the card. First the VAT table under the total, and the
  // flags the record carries (refused unless the sale is totalled); then, once the card
  // answered (signed or refused) and the register added what the answer gives, CloseCashIn
  // ends the sale. CancelCashIn instead takes the VAT table off again when the card was not
  // asked or did not answer: the sale stays totalled and can be cashed in again.
  Result<RecordFlags> BeginCashIn();
  void CancelCashIn();
  void CloseCashIn();
  // Five empty lines under the receipt, where the QR image of the last cash-in is drawn.
  void AppendQrSpace();
  // Drops empty last lines while at least three lines are left (the raw print takes the room
  // kept for the QR image away); the QR image stays, under the last line.
  void TrimEmptyLastLines();
  // A line that stands where the card's answer goes while the receipt is held back, and its
  // removal once the answer may be shown.
  void SetHeldNotice(std::string line);
  void ClearHeldNotice();
  void AbortSale();
  void ResetReceipt();
  // The report view or the card status sheet takes the receipt: an open sale is dropped.
  void LeaveSale();
  // Opens a sale without a position, as a booking would; the mass generator's empty sales.
  void OpenEmptySale();

  std::int64_t SaleTotal() const;
  std::string VatTableLine(int container, bool exclusive) const;
  void AppendHashText(ByteSpan bytes, bool force);
  void AppendSignatureText(ByteSpan bytes, bool force);
  // Appends a text block (CR LF between lines) as lines without owner.
  void AppendText(std::string_view text);

  const std::vector<std::string>& ReceiptLines() const { return lines_; }
  std::string ReceiptText() const;  // lines joined by CR LF
  LineOwner OwnerOfLine(std::size_t line) const;
  const BookingPosition* PositionAtLine(std::size_t line) const;
  const BookingPosition* LastPosition() const;
  const std::vector<BookingPosition>& Positions() const { return positions_; }

  SaleState State() const;
  bool NoSaleOpen() const { return noSaleOpen_; }
  bool SummeEnabled() const { return summeEnabled_; }
  bool AbbruchEnabled() const { return abbruchEnabled_; }
  bool KassierenEnabled() const { return kassierenEnabled_; }
  bool StornoVisible() const { return stornoVisible_; }
  bool DiscountBoxVisible() const { return discountBoxVisible_; }
  std::uint32_t ReceiptColour() const { return receiptColour_; }
  void SetReceiptColour(std::uint32_t colour) { receiptColour_ = colour; }
  // First receipt line under the QR image of the last cash-in, if one was drawn.
  std::optional<std::size_t> QrFirstLine() const { return qrFirstLine_; }

  SaleSettings settings;

 private:
  Result<void> CheckPosition(const BookingPosition& position, std::size_t lines) const;
  void AddLine(std::string line, LineOwner owner = {});
  void Encode(const BookingPosition& position, double amountQuantity);
  void ResetItems();
  void EndSale();

  const RegisterConfig& config_;
  const LanguageTexts& texts_;
  ItemList& itemList_;
  VatContainers& containers_;
  std::size_t cashInStart_ = 0;  // the receipt's length before the VAT table
  std::optional<std::size_t> heldNotice_;

  std::vector<std::string> lines_;
  std::vector<LineOwner> owners_;
  std::vector<BookingPosition> positions_;
  std::optional<std::size_t> lastPosition_;
  std::optional<std::size_t> qrFirstLine_;
  bool noSaleOpen_ = true;
  bool summeEnabled_ = false;
  bool abbruchEnabled_ = false;
  bool kassierenEnabled_ = false;
  bool stornoVisible_ = false;
  bool discountBoxVisible_ = false;
  std::uint32_t receiptColour_ = kReceiptColour;
};

}  // namespace kasse
