#pragma once
// The one place an error becomes text: in English (batch runs, logs), or in the operator's
// language from the numbered texts of cfg/lang.ini, with its variable parts filled in and an
// error inside it said the same way.

#include <string>
#include <string_view>
#include <vector>

#include "common/language_texts.h"
#include "common/result.h"

namespace kasse {

// Replaces %1 to %9 in `pattern` by the arguments (a missing argument gives the empty text).
std::string FillArguments(std::string_view pattern, const std::vector<std::string>& args);

// Each error in English (warnings for a log or a test).
std::vector<std::string> EnglishTexts(const std::vector<Error>& errors);

// The error in the language of `texts`; where the language has no text for it, in English, so a
// message is never blank.
std::string OperatorText(const LanguageTexts& texts, const Error& error);

}  // namespace kasse
