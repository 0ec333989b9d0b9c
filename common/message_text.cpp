#include "common/message_text.h"

namespace kasse {
namespace {

// Errors are nested by the code that makes them, a few deep at most; a bound all the same.
constexpr int kDeepest = 8;

bool IsPlaceholder(std::string_view pattern, std::size_t at) {
  return pattern[at] == '%' && at + 1 < pattern.size() && pattern[at + 1] >= '1' &&
         pattern[at + 1] <= '9';
}

// `say` gives the pattern of a message in the wanted language (empty: not there).
template <typename Say>
std::string Text(const Error& error, const Say& say, int depth) {
  if (error.what == nullptr) return error.args.empty() ? std::string() : error.args[0].text;
  std::vector<std::string> args;
  args.reserve(error.args.size());
  for (const MessageArg& arg : error.args) {
    if (arg.error && depth < kDeepest)
      args.push_back(Text(*arg.error, say, depth + 1));
    else
      args.push_back(arg.text);
  }
  std::string_view pattern = say(*error.what);
  if (pattern.empty()) pattern = error.what->english;
  return FillArguments(pattern, args);
}

}  // namespace

std::string FillArguments(std::string_view pattern, const std::vector<std::string>& args) {
  std::string text;
  text.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (IsPlaceholder(pattern, i)) {
      const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (index < args.size()) text += args[index];
      ++i;
      continue;
    }
    text += pattern[i];
  }
  return text;
}

std::string Error::English() const {
  return Text(
      *this, [](const MessageId&) { return std::string_view(); }, 0);
}

std::vector<std::string> EnglishTexts(const std::vector<Error>& errors) {
  std::vector<std::string> texts;
  texts.reserve(errors.size());
  for (const Error& error : errors)
    texts.push_back(error.English());
  return texts;
}

std::string OperatorText(const LanguageTexts& texts, const Error& error) {
  return Text(
      error, [&texts](const MessageId& id) { return std::string_view(texts.LangText(id.number)); },
      0);
}

}  // namespace kasse
