// A product list file as the register loads it, every product taken out of it.

#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "journal/product_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kasse;
  fuzz::FuzzInput input(data, size);
  ProductFileReader reader;
  reader.LoadProductText(std::string(input.RestText()));
  // Each call consumes one item, so a file of N bytes cannot yield more than N products.
  for (std::size_t taken = 0;; ++taken) {
    if (taken > size) fuzz::Violated("the product cursor advances");
    Result<std::optional<TProd>> product = reader.NextProduct();
    if (product && !product->has_value()) break;
  }
  return 0;
}
