#include "journal/product_list.h"

#include "common/cp1252.h"
#include "common/files.h"
#include "journal/journal.h"
#include "journal/journal_messages.h"
#include "journal/product_reader.h"
#include "journal/xml_text.h"

namespace kasse {

std::string ProductListText(std::span<const TProd> products) {
  std::string text(kJournalHeader);
  text += "<itemList>";
  for (const TProd& product : products) {
    text += "<item><name>" + XmlEscape(product.name) + "</name>";
    if (!product.unit.empty()) text += "<unit>" + XmlEscape(product.unit) + "</unit>";
    for (std::size_t k = 0; k < 6; ++k) {
      if (product.price[k] == 0) continue;
      const std::string number = std::to_string(k + 1);
      text += "<price" + number + ">" + std::to_string(product.price[k]) + "</price" + number + ">";
    }
    if (product.thirdparty) text += "<thirdparty/>";
    if (product.deliverynote) text += "<deliverynote/>";
    if (product.voucher) text += "<voucher/>";
    if (product.discountSurcharge) text += "<discountSurcharge/>";
    text += "</item>";
  }
  text += "</itemList></kavelo>";
  return text;
}

Result<void> WriteProductList(const std::filesystem::path& file, std::span<const TProd> products) {
  // Through a temporary file, so a failed save never leaves half a product list.
  return WriteFileAtomic(file, ProductListText(products));
}

std::filesystem::path DefaultProductFile(const std::filesystem::path& home) {
  return home / "Produkte" / "Standard.xml";
}

Result<void> ProductList::Load(const std::filesystem::path& file) {
  auto text = ReadFile(file, kMaxSmallFile);
  if (!text)
    return MakeError(ErrorKind::kIo, journal_msg::kProductListUnreadable,
                     {file.string(), text.error()});
  const bool wasUtf8 = ConvertUtf8FileText(*text);
  // A file cut short (or no product list at all) would otherwise replace the list with
  // whatever part of it could be read, without a word.
  const std::size_t open = text->find("<itemList>");
  if (open == std::string::npos)
    return MakeError(ErrorKind::kMalformed, journal_msg::kProductListNoItemList, {file.string()});
  if (text->find("</itemList>", open) == std::string::npos)
    return MakeError(ErrorKind::kMalformed, journal_msg::kProductListNotClosed, {file.string()});
  ProductFileReader reader;
  reader.LoadProductText(std::move(*text));
  std::vector<TProd> products;
  for (;;) {
    auto next = reader.NextProduct();
    if (!next)
      return MakeError(next.error().kind, journal_msg::kProductListProblem,
                       {file.string(), next.error()});
    if (!next->has_value()) break;
    products.push_back(std::move(**next));
  }
  products_ = std::move(products);
  file_ = file;
  loadNotice_.reset();
  if (wasUtf8)
    loadNotice_ =
        MakeError(ErrorKind::kUnusableInput, journal_msg::kProductListSavedAsUtf8, {file.string()});
  return {};
}

Result<void> ProductList::Save() {
  if (file_.empty()) return MakeError(ErrorKind::kMissingInput, journal_msg::kNoProductListOpen);
  return WriteProductList(file_, products_);
}

Result<void> ProductList::SaveAs(const std::filesystem::path& file) {
  if (auto written = WriteProductList(file, products_); !written) return written;
  file_ = file;
  return {};
}

bool ProductList::Remove(std::size_t index) {
  if (index >= products_.size()) return false;
  products_.erase(products_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

}  // namespace kasse
