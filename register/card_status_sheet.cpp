#include "register/card_status_sheet.h"

#include "register/language.h"

namespace kasse {

namespace {

struct Row {
  int text;
  int tabs;
};

// Label texts and the tabs between label and value, in the order of the status values.
constexpr Row kRows[] = {{63, 2}, {61, 3}, {42, 2}, {43, 2}, {64, 2},
                         {65, 2}, {66, 2}, {67, 2}, {68, 1}};
constexpr Row kLevelTwoRows[] = {{80, 2}, {81, 1}};

std::string RowText(const Language& language, const Row& row, const std::string& value) {
  return language.LangText(row.text) + std::string(static_cast<std::size_t>(row.tabs), '\t') +
         value;
}

}  // namespace

std::string CardStatusSheetText(const Language& language, const std::vector<std::string>& values) {
  auto value = [&values](std::size_t i) { return i < values.size() ? values[i] : std::string(); };
  std::string text = "\r\n\t  " + language.LangText(60) + "\r\n";
  std::size_t next = 0;
  for (const Row& row : kRows)
    text += "\r\n" + RowText(language, row, value(next++));
  if (values.size() > std::size(kRows)) {
    text += "\r\n";
    for (const Row& row : kLevelTwoRows)
      text += "\r\n" + RowText(language, row, value(next++));
  }
  return text;
}

}  // namespace kasse
