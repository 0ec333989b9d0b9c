#pragma once
// The first start of a register home: a new home gets the shipped defaults (the language file
// and the product list) and its empty journal and export folders. The defaults sit in
// share/kasse beside the program's bin folder, in an installed copy (<prefix>/share/kasse) as
// in the build tree (build/default/share/kasse), so neither is ever a user's home and deleting
// either never deletes a journal.

#include <filesystem>

#include "common/result.h"

namespace kasse {

// <folder of the running program>/../share/kasse.
std::filesystem::path ShippedDefaultsFolder();

// Creates `home`, its Journal/ and Export/ folders as needed, and copies each default file that
// `home` lacks from `defaults`; nothing already in `home` is ever replaced. An error names the
// path, the system's reason and what to do.
Result<void> SeedRegisterHome(const std::filesystem::path& home,
                              const std::filesystem::path& defaults);

}  // namespace kasse
