#include "journal/product_reader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "common/amount.h"
#include "common/files.h"
#include "journal/journal_messages.h"
#include "journal/xml_text.h"

namespace kasse {
namespace {

using Kind = TXML::Kind;

std::string Paired(std::string_view name) {
  return "<" + std::string(name) + ">";
}
std::string Closing(std::string_view name) {
  return "</" + std::string(name) + ">";
}

TXML Element(Kind kind, std::string name, std::string opening, std::string closing) {
  TXML element;
  element.kind = kind;
  element.name = std::move(name);
  element.openingTag = std::move(opening);
  element.closingTag = std::move(closing);
  return element;
}

// The elements in the order they are tried; the two spellings of the third-party flag, with
// and without content, are all read. The price readers follow, one per price number.
std::vector<TXML> ReaderTable() {
  std::vector<TXML> readers = {
      Element(Kind::kItemList, "itemList", "<itemList>", "</itemList>"),
      Element(Kind::kItem, "item", "<item>", "</item>"),
      Element(Kind::kName, "name", "<name>", "</name>"),
      Element(Kind::kQnt, "qnt", "<qnt>", "</qnt>"),
      Element(Kind::kUnit, "unit", "<unit>", "</unit>"),
      Element(Kind::kThirdParty, "thirtparty", "<thirtparty", "/>"),
      Element(Kind::kThirdParty, "thirtparty", "<thirtparty>", "</thirtparty>"),
      Element(Kind::kThirdParty, "thirdparty", "<thirdparty", "/>"),
      Element(Kind::kDeliveryNote, "deliverynote", "<deliverynote", "/>"),
      Element(Kind::kVoucher, "voucher", "<voucher", "/>"),
      Element(Kind::kDiscount, "discountSurcharge", "<discountSurcharge", "/>"),
  };
  for (int number = 1; number <= 11; ++number) {
    const std::string name = "price" + std::to_string(number);
    readers.push_back(Element(Kind::kPrice, name, Paired(name), Closing(name)));
    readers.back().priceNumber = number;
  }
  return readers;
}

bool ReadQuantity(std::string_view text, double& quantity) {
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, quantity);
  return error == std::errc() && end == last && std::isfinite(quantity);
}

// A file price is the price of q units; the product holds the price of one, halves to even.
bool UnitPrice(std::int64_t filePrice, double quantity, std::int32_t& price) {
  const double perUnit =
      quantity == 0 ? static_cast<double>(filePrice) : static_cast<double>(filePrice) / quantity;
  const double rounded = std::nearbyint(perUnit);
  if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max()))
    return false;
  price = static_cast<std::int32_t>(rounded);
  return true;
}

}  // namespace

TXML::Match TXML::Classify(std::string_view tag) const {
  if (tag == openingTag) return Match::kOpening;
  if (tag == closingTag) return Match::kClosing;
  if (tag.size() == openingTag.size() + closingTag.size() && tag.starts_with(openingTag) &&
      tag.ends_with(closingTag))
    return Match::kEmpty;
  return Match::kNone;
}

void TXMLList::AddTag(const std::vector<TXML>& readers, std::string_view tag,
                      std::int64_t position) {
  for (const TXML& reader : readers) {
    const TXML::Match match = reader.Classify(tag);
    if (match == TXML::Match::kNone) continue;
    if (match == TXML::Match::kClosing) {
      // The innermost open element, whatever its name, as the reader always took it.
      if (!open_.empty()) {
        items_[open_.back()].end = position;
        open_.pop_back();
        --depth_;
      }
      return;
    }
    TXML copy = reader;
    copy.start = position;
    if (match == TXML::Match::kOpening) {
      copy.end = -1;
      copy.level = ++depth_;
      open_.push_back(items_.size());
    } else {
      copy.end = position;
      copy.level = depth_ + 1;
    }
    items_.push_back(std::move(copy));
    return;
  }
}

std::string TXMLList::Content(const TXML& occurrence) const {
  const std::int64_t stop =
      occurrence.end - static_cast<std::int64_t>(occurrence.closingTag.size());
  if (occurrence.end < 0 || stop <= occurrence.start ||
      stop > static_cast<std::int64_t>(text_.size()))
    return {};
  const auto from = static_cast<std::size_t>(occurrence.start);
  return XmlUnescape(std::string_view(text_).substr(from, static_cast<std::size_t>(stop) - from));
}

bool TXMLList::TooLong(const TXML& occurrence) const {
  return occurrence.end - occurrence.start >
         static_cast<std::int64_t>(kMaxContent + occurrence.closingTag.size());
}

void TXMLList::MarkFamilies() {
  // One pass with a stack of the elements still open at each level: every occurrence learns
  // where its children end, and every item its first name child.
  subtreeEnd_.assign(items_.size(), items_.size());
  nameOf_.assign(items_.size(), kNoName);
  std::vector<std::size_t> open;
  for (std::size_t index = 0; index < items_.size(); ++index) {
    const int level = items_[index].level;
    while (!open.empty() && items_[open.back()].level >= level) {
      subtreeEnd_[open.back()] = index;
      open.pop_back();
    }
    if (!open.empty() && items_[index].kind == Kind::kName) {
      const std::size_t parent = open.back();
      if (items_[parent].level == level - 1 && items_[parent].kind == Kind::kItem &&
          nameOf_[parent] == kNoName)
        nameOf_[parent] = index;
    }
    open.push_back(index);
  }
}

std::optional<std::string> TXMLList::NameOf(std::size_t itemIndex) const {
  const std::size_t name = nameOf_[itemIndex];
  if (name == kNoName) return std::string();
  // An overlong name is no product's: it is never a duplicate, NextProduct refuses it.
  if (TooLong(items_[name])) return std::nullopt;
  return Content(items_[name]);
}

void TXMLList::DropDuplicateNames() {
  MarkFamilies();
  std::unordered_set<std::string> seen;
  std::vector<TXML> kept;
  kept.reserve(items_.size());
  std::size_t index = 0;
  while (index < items_.size()) {
    if (items_[index].kind == Kind::kItem) {
      const std::optional<std::string> name = NameOf(index);
      if (name && !seen.insert(*name).second) {
        index = subtreeEnd_[index];
        continue;
      }
    }
    kept.push_back(std::move(items_[index]));
    ++index;
  }
  items_ = std::move(kept);
}

Result<std::optional<TProd>> TXMLList::NextProduct() {
  while (cursor_ < items_.size() && items_[cursor_].kind != Kind::kItem)
    ++cursor_;
  if (cursor_ >= items_.size()) return std::optional<TProd>{};
  const int childLevel = items_[cursor_].level + 1;
  TProd product;
  double quantity = 1.0;
  std::array<std::int64_t, 8> filePrices{};
  std::string bad;  // the first element whose content is not a number
  std::size_t index = cursor_ + 1;
  for (; index < items_.size() && items_[index].level == childLevel; ++index) {
    const TXML& child = items_[index];
    const bool valued = child.kind == Kind::kName || child.kind == Kind::kUnit ||
                        child.kind == Kind::kQnt || child.kind == Kind::kPrice;
    if (valued && TooLong(child)) {
      if (bad.empty()) bad = child.name + " longer than " + std::to_string(kMaxContent) + " bytes";
      continue;
    }
    const std::string content = valued ? Content(child) : std::string();
    switch (child.kind) {
      case Kind::kName:
        product.name = content;
        break;
      case Kind::kUnit:
        product.unit = content;
        break;
      case Kind::kQnt:
        if (!ReadQuantity(content, quantity) && bad.empty()) bad = "qnt \"" + content + "\"";
        break;
      case Kind::kPrice:
        if (child.priceNumber <= 8) {
          const Result<std::int64_t> price = ParseInteger(content);
          if (price)
            filePrices[static_cast<std::size_t>(child.priceNumber - 1)] = *price;
          else if (bad.empty())
            bad = child.name + " \"" + content + "\"";
        }
        break;
      case Kind::kThirdParty:
        product.thirdparty = true;
        break;
      case Kind::kDeliveryNote:
        product.deliverynote = true;
        break;
      case Kind::kVoucher:
        product.voucher = true;
        break;
      case Kind::kDiscount:
        product.discountSurcharge = true;
        break;
      case Kind::kItemList:
      case Kind::kItem:
        break;
    }
  }
  cursor_ = index;
  for (std::size_t k = 0; k < 8 && bad.empty(); ++k) {
    if (!UnitPrice(filePrices[k], quantity, product.price[k]))
      bad = "price" + std::to_string(k + 1) + " " + std::to_string(filePrices[k]);
  }
  if (!bad.empty())
    return MakeError(ErrorKind::kUnusableInput, journal_msg::kItemNotNumber, {product.name, bad});
  return std::optional<TProd>{std::move(product)};
}

ProductFileReader::ProductFileReader() : readers_(ReaderTable()) {}

Result<void> ProductFileReader::LoadProductList(const std::filesystem::path& file) {
  list_.reset();
  auto text = ReadFile(file, kMaxSmallFile);
  if (!text) return text.error();
  LoadProductText(std::move(*text));
  return {};
}

void ProductFileReader::LoadProductText(std::string text) {
  list_ = std::make_unique<TXMLList>(text);
  std::string tag;
  for (std::size_t position = 0; position < text.size(); ++position) {
    const char c = text[position];
    if (tag.empty() && c != '<') continue;
    tag += c;
    if (c != '>') continue;
    list_->AddTag(readers_, tag, static_cast<std::int64_t>(position + 1));
    tag.clear();
  }
  list_->DropDuplicateNames();
}

void ProductFileReader::ResetProductCursor() {
  if (list_) list_->ResetProductCursor();
}

Result<std::optional<TProd>> ProductFileReader::NextProduct() {
  if (!list_) return std::optional<TProd>{};
  return list_->NextProduct();
}

}  // namespace kasse
