#pragma once
// The answer of the verification web page: an HTML page (German unless the browser prefers
// English, French or Polish) or JSON. Pure functions; the server only passes them on.

#include <string>
#include <string_view>
#include "verify/receipt_verdict.h"

namespace kasse {

enum class PageLanguage { kGerman, kEnglish, kFrench, kPolish };

// The first of de, en, fr, pl named in an Accept-Language header; German otherwise.
PageLanguage LanguageOfHeader(std::string_view acceptLanguage);

// The page at "/": what the service is for.
std::string StartHtml(PageLanguage language);

std::string VerdictHtml(const ReceiptVerdict& verdict, PageLanguage language);
std::string VerdictJson(const ReceiptVerdict& verdict);

// A JSON string literal, with <, > and & escaped as well.
std::string JsonString(std::string_view text);

// Text safe inside HTML elements and attribute values.
std::string HtmlEscaped(std::string_view text);

}  // namespace kasse
