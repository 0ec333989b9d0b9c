#pragma once
// The product list the operator picks from, and its file in Produkte/: load, save, save as,
// delete an entry. A load that fails keeps the list as it was.

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "journal/product.h"

namespace kasse {

// The file text: journal header, <itemList>, one <item> per product, </itemList></kavelo>.
// Names and units are escaped; price7 and price8 are never written.
std::string ProductListText(std::span<const TProd> products);
Result<void> WriteProductList(const std::filesystem::path& file, std::span<const TProd> products);

// Produkte/Standard.xml of a register home.
std::filesystem::path DefaultProductFile(const std::filesystem::path& home);

class ProductList {
 public:
  // "Laden": all products of the file, or an error naming the file (and the item, for a price
  // that is not a whole number); on error the list keeps its entries and its file.
  Result<void> Load(const std::filesystem::path& file);
  // What the user should hear about the last successful load although it worked (a file saved
  // as UTF-8, read with conversion); none otherwise.
  const std::optional<Error>& LoadNotice() const { return loadNotice_; }
  // "Speichern": into the file last loaded or saved; an error when there is none yet.
  Result<void> Save();
  // "Speichern als" / "Speichern unter": the file becomes the list's file.
  Result<void> SaveAs(const std::filesystem::path& file);
  // "Löschen": false when index names no entry.
  bool Remove(std::size_t index);
  void Add(TProd product) { products_.push_back(std::move(product)); }

  const std::vector<TProd>& Products() const { return products_; }
  const std::filesystem::path& File() const { return file_; }

 private:
  std::vector<TProd> products_;
  std::filesystem::path file_;
  std::optional<Error> loadNotice_;
};

}  // namespace kasse
