#include "fuzz/fuzz_input.h"

#include <cstdio>
#include <cstdlib>

namespace kasse::fuzz {

void Violated(const char* property) {
  std::fprintf(stderr, "fuzz: property violated: %s\n", property);
  std::abort();
}

}  // namespace kasse::fuzz
