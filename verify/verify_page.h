#pragma once
// The answer of the verification web page: an HTML page (German unless the browser prefers
// English, French or Polish) or JSON. Pure functions; the server only passes them on.

#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "verify/receipt_verdict.h"

namespace kasse {

enum class PageLanguage { kGerman, kEnglish, kFrench, kPolish };

// The first of de, en, fr, pl named in an Accept-Language header; German otherwise.
PageLanguage LanguageOfHeader(std::string_view acceptLanguage);

// Judges t1 with the first certificate that fits the receipt's card: the given ones (DER), else
// found in the journals under home (empty: none).
ReceiptVerdict VerifyWithCertificates(std::string_view t1, const std::vector<Bytes>& certificates,
                                      const std::string& home);

std::string VerdictHtml(const ReceiptVerdict& verdict, PageLanguage language);
std::string VerdictJson(const ReceiptVerdict& verdict);

// Text safe inside HTML elements and attribute values.
std::string HtmlEscaped(std::string_view text);

}  // namespace kasse
