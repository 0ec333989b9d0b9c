#pragma once
// The product file reader: not a general XML parser but a table of element readers (one TXML
// per element the file may hold) that classify each tag, and an occurrence list (TXMLList) of
// the elements found, in file order with their nesting level. Products are then taken from the
// list one by one.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "journal/product.h"

namespace kasse {

// One element the file may hold, and, as a copy, one occurrence of it in the file.
struct TXML {
  enum class Kind {
    kItemList,
    kItem,
    kName,
    kQnt,
    kUnit,
    kThirdParty,
    kDeliveryNote,
    kVoucher,
    kDiscount,
    kPrice
  };
  enum class Match { kNone, kOpening, kClosing, kEmpty };

  Match Classify(std::string_view tag) const;

  Kind kind = Kind::kItem;
  std::string name, openingTag, closingTag;
  int priceNumber = 0;                // 1..11 for the price readers
  std::int64_t start = -1, end = -1;  // file positions just past the tags; end -1 while open
  int level = 0;
};

// The occurrences of one file, in file order, and the read cursor over them.
class TXMLList {
 public:
  explicit TXMLList(std::string fileText) : text_(std::move(fileText)) {}

  void AddTag(const std::vector<TXML>& readers, std::string_view tag, std::int64_t position);
  // The first product of a name wins: later items of that name go with their children.
  void DropDuplicateNames();
  void ResetProductCursor() { cursor_ = 0; }
  // The next product, nothing at the end, or an error naming the item for a price or
  // quantity that is not a number.
  Result<std::optional<TProd>> NextProduct();

  std::size_t Count() const { return items_.size(); }
  // No product value is longer: a longer one is refused without being copied, which keeps
  // the reader linear on elements nested into each other.
  static constexpr std::size_t kMaxContent = 1024;
  // Raw content, entities turned back: from the start up to the closing tag.
  std::string Content(const TXML& occurrence) const;

 private:
  static constexpr std::size_t kNoName = static_cast<std::size_t>(-1);
  bool TooLong(const TXML& occurrence) const;
  void MarkFamilies();
  // The content of the item's first name child ("" without one); nothing when it is too long.
  std::optional<std::string> NameOf(std::size_t itemIndex) const;

  std::string text_;
  std::vector<TXML> items_;
  std::vector<std::size_t> open_;        // indexes of the elements still open, innermost last
  std::vector<std::size_t> subtreeEnd_;  // per occurrence: the first index past its children
  std::vector<std::size_t> nameOf_;      // per item: its first name child, or kNoName
  int depth_ = 0;
  std::size_t cursor_ = 0;
};

// The reader table, built once, and the occurrence list of the last file loaded.
class ProductFileReader {
 public:
  ProductFileReader();

  Result<void> LoadProductList(const std::filesystem::path& file);
  void LoadProductText(std::string text);
  void ResetProductCursor();
  Result<std::optional<TProd>> NextProduct();

 private:
  std::vector<TXML> readers_;
  std::unique_ptr<TXMLList> list_;
};

}  // namespace kasse
