// The product list reader on hostile files: nesting does not make it slow, overlong values and
// files that are no regular files or too large are refused by name.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/files.h"
#include "common/tests/support/test_folders.h"
#include "journal/product_list.h"
#include "journal/product_reader.h"

namespace kasse {
namespace {

namespace fs = std::filesystem;

TEST(ProductReaderLimits, DeeplyNestedItemsAreReadInLinearTime) {
  // A 77 kB list of this kind took 17 s when every element searched the ones before it; this
  // one is 2.5 MB. The bound is for a sanitizer build on a busy machine.
  std::string text = "<itemList>";
  for (int i = 0; i < 60000; ++i)
    text += "<item><name>p" + std::to_string(i % 50) + "</name><itemList>";
  text += "</itemList>";
  const auto start = std::chrono::steady_clock::now();
  ProductFileReader reader;
  reader.LoadProductText(text);
  int products = 0;
  for (;;) {
    auto next = reader.NextProduct();
    ASSERT_TRUE(next);
    if (!next->has_value()) break;
    ++products;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(products, 50);  // the first of each name; duplicates go with their children
}

TEST(ProductReaderLimits, ValuesNestedIntoEachOtherAreRefusedNotCopied) {
  std::string names;
  for (int i = 0; i < 20000; ++i)
    names += "<name>";
  std::string text = "<itemList><item>" + names + "Brot";
  for (int i = 0; i < 20000; ++i)
    text += "</name>";
  text += "<price1>100</price1></item></itemList>";
  const auto start = std::chrono::steady_clock::now();
  ProductFileReader reader;
  reader.LoadProductText(text);
  auto next = reader.NextProduct();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  ASSERT_FALSE(next);
  EXPECT_NE(next.error().English().find("name longer than 1024 bytes"), std::string::npos);
}

TEST(ProductReaderLimits, OnlyRegularFilesUpTo16MiBAreRead) {
  const fs::path folder = testing::FreshFolder();
  ASSERT_EQ(::mkfifo((folder / "Standard.xml").c_str(), 0600), 0);
  ProductList list;
  Result<void> fifo = list.Load(folder / "Standard.xml");
  ASSERT_FALSE(fifo);
  EXPECT_NE(fifo.error().English().find("Standard.xml: not a regular file"), std::string::npos);

  ASSERT_TRUE(WriteFileAtomic(folder / "big.xml", "<itemList></itemList>"));
  fs::resize_file(folder / "big.xml", kMaxSmallFile + 1);
  Result<void> big = list.Load(folder / "big.xml");
  ASSERT_FALSE(big);
  EXPECT_NE(big.error().English().find("big.xml: larger than 16 MiB"), std::string::npos);
  ProductFileReader reader;
  EXPECT_FALSE(reader.LoadProductList(folder / "big.xml"));
}

}  // namespace
}  // namespace kasse
