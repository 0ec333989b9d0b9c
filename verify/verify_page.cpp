#include "verify/verify_page.h"

#include <array>
#include <cstdio>

#include "common/amount.h"
#include "common/cp1252.h"
#include "common/hex_text.h"
#include "verify/journal_audit.h"

namespace kasse {
namespace {

enum Text {
  kTitle,
  kValid,
  kInvalid,
  kUnusable,
  kWhy,
  kDate,
  kOperator,
  kItemHash,
  kCard,
  kSequence,
  kTraining,
  kNet,
  kRate,
  kTurnover,
  kTax,
  kNoCertificate,
  kStart,
  kTextCount
};

using Row = std::array<std::string_view, kTextCount>;
constexpr std::array<Row, 4> kTexts = {{
    {"Belegprüfung", "Beleg gültig", "Beleg ungültig", "Beleg nicht prüfbar", "Grund", "Datum",
     "Bediener", "Hash der Positionen", "Karte", "Belegnummer", "Trainingsbuchung", "Nettopreise",
     "Steuersatz", "Umsatz", "Steuer", "Für diese Karte liegt kein Zertifikat vor.",
     "Scannen Sie den QR-Code eines Belegs, um ihn zu prüfen."},
    {"Receipt check", "Receipt valid", "Receipt invalid", "Receipt cannot be checked", "Reason",
     "Date", "Operator", "Item-list hash", "Card", "Sequence number", "Training", "Net prices",
     "VAT rate", "Turnover", "Tax", "No certificate is known for this card.",
     "Scan the QR code of a receipt to check it."},
    {"Vérification du ticket", "Ticket valide", "Ticket non valide", "Ticket non vérifiable",
     "Motif", "Date", "Opérateur", "Empreinte des articles", "Carte", "Numéro de séquence",
     "Formation", "Prix hors taxe", "Taux de TVA", "Chiffre d’affaires", "Taxe",
     "Aucun certificat n’est connu pour cette carte.",
     "Scannez le code QR d’un ticket pour le vérifier."},
    {"Weryfikacja paragonu", "Paragon ważny", "Paragon nieważny", "Paragonu nie można sprawdzić",
     "Powód", "Data", "Operator", "Skrót pozycji", "Karta", "Numer kolejny", "Szkolenie",
     "Ceny netto", "Stawka VAT", "Obrót", "Podatek", "Brak certyfikatu dla tej karty.",
     "Zeskanuj kod QR paragonu, aby go sprawdzić."},
}};

std::string TableRow(std::string_view label, const std::string& value) {
  return "<tr><th>" + std::string(label) + "</th><td>" + HtmlEscaped(value) + "</td></tr>\n";
}

std::string Euro(std::int64_t cents) {
  return Cp1252ToUtf8(FormatAmount(cents));
}

std::string TaxText(const PayloadContainer& c, bool vatAddon) {
  const auto tax = ContainerTax(c, vatAddon);
  return tax ? Euro(*tax) : std::string("-");
}

std::string TaxJson(const PayloadContainer& c, bool vatAddon) {
  const auto tax = ContainerTax(c, vatAddon);
  return tax ? std::to_string(*tax) : std::string("null");
}

std::string RateOf(const PayloadContainer& c) {
  std::string digits = c.rateDigits;
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits.substr(0, digits.size() - 2) + "," + digits.substr(digits.size() - 2) + " %";
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string HtmlEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

PageLanguage LanguageOfHeader(std::string_view header) {
  for (std::size_t at = 0; at < header.size();) {
    std::size_t end = header.find(',', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view tag = header.substr(at, end - at);
    while (!tag.empty() && tag.front() == ' ')
      tag.remove_prefix(1);
    const std::string_view base = tag.substr(0, 2);
    if (base == "de" || base == "DE") return PageLanguage::kGerman;
    if (base == "en" || base == "EN") return PageLanguage::kEnglish;
    if (base == "fr" || base == "FR") return PageLanguage::kFrench;
    if (base == "pl" || base == "PL") return PageLanguage::kPolish;
    at = end + 1;
  }
  return PageLanguage::kGerman;
}

namespace {

constexpr std::array<std::string_view, 4> kLang = {"de", "en", "fr", "pl"};

std::string PageHead(PageLanguage language) {
  const Row& t = kTexts[static_cast<std::size_t>(language)];
  return "<!DOCTYPE html>\n<html lang=\"" + std::string(kLang[static_cast<std::size_t>(language)]) +
         "\"><head><meta charset=\"utf-8\"><title>" + std::string(t[kTitle]) +
         "</title>\n<style>body{font-family:sans-serif;max-width:40em;margin:2em auto}"
         ".banner{padding:1em;font-size:1.4em;font-weight:bold;color:#fff}"
         ".valid{background:#2e7d32}.invalid{background:#c62828}"
         "th{text-align:left;padding-right:1em}</style></head><body>\n<h1>" +
         std::string(t[kTitle]) + "</h1>\n";
}

}  // namespace

std::string StartHtml(PageLanguage language) {
  const Row& t = kTexts[static_cast<std::size_t>(language)];
  return PageHead(language) + "<p>" + std::string(t[kStart]) + "</p>\n</body></html>\n";
}

std::string VerdictHtml(const ReceiptVerdict& verdict, PageLanguage language) {
  const Row& t = kTexts[static_cast<std::size_t>(language)];
  const bool valid = verdict.validity == Validity::kValid;
  const std::string_view banner = valid                                    ? t[kValid]
                                  : verdict.validity == Validity::kInvalid ? t[kInvalid]
                                                                           : t[kUnusable];
  std::string page = PageHead(language) + "<div class=\"banner " + (valid ? "valid" : "invalid") +
                     "\">" + std::string(banner) + "</div>\n";
  if (verdict.cardUnknown) page += "<p><b>" + std::string(t[kNoCertificate]) + "</b></p>\n";
  if (!valid) {
    page += "<p><b>" + std::string(t[kWhy]) + ":</b> " + HtmlEscaped(verdict.reason) + "</p>\n";
  }
  if (verdict.receipt) {
    const ReceiptPayload& r = *verdict.receipt;
    page += "<table>\n";
    const std::string date = r.date.size() == 8 && r.time.size() == 4
                                 ? r.date.substr(6, 2) + "." + r.date.substr(4, 2) + "." +
                                       r.date.substr(0, 4) + " " + r.time.substr(0, 2) + ":" +
                                       r.time.substr(2, 2)
                                 : r.date + " " + r.time;
    page += TableRow(t[kDate], date);
    page += TableRow(t[kOperator], Cp1252ToUtf8(r.operatorId));
    page += TableRow(t[kItemHash], HexCompact(r.itemHash));
    if (r.training) page += TableRow(t[kTraining], "✓");
    if (r.vatAddon) page += TableRow(t[kNet], "✓");
    for (const PayloadContainer& c : r.containers) {
      page += TableRow(std::string(t[kRate]) + " " + RateOf(c),
                       std::string(t[kTurnover]) + " " + Euro(c.turnover) + ", " +
                           std::string(t[kTax]) + " " + TaxText(c, r.vatAddon));
    }
    page += TableRow(t[kCard], Cp1252ToUtf8(r.tpId) + " " + std::to_string(r.tpIdNo));
    page += TableRow(t[kSequence], std::to_string(r.seqNo));
    page += "</table>\n";
  }
  return page + "</body></html>\n";
}

std::string VerdictJson(const ReceiptVerdict& verdict) {
  static constexpr std::array<std::string_view, 3> kNames = {"valid", "invalid", "unusable"};
  std::string json =
      "{\"verdict\":\"" + std::string(kNames[static_cast<std::size_t>(verdict.validity)]) + "\"";
  if (!verdict.reason.empty()) json += ",\"reason\":" + JsonString(verdict.reason);
  if (verdict.cardUnknown) json += ",\"cardUnknown\":true";
  if (verdict.receipt) {
    const ReceiptPayload& r = *verdict.receipt;
    json += ",\"date\":" + JsonString(r.date) + ",\"time\":" + JsonString(r.time) +
            ",\"operator\":" + JsonString(Cp1252ToUtf8(r.operatorId)) + ",\"itemHash\":\"" +
            HexCompact(r.itemHash) + "\",\"training\":" + (r.training ? "true" : "false") +
            ",\"netPrices\":" + (r.vatAddon ? "true" : "false") + ",\"containers\":[";
    for (std::size_t i = 0; i < r.containers.size(); ++i) {
      const PayloadContainer& c = r.containers[i];
      json += std::string(i ? "," : "") + "{\"number\":" + std::to_string(c.number) +
              ",\"rate\":" + JsonString(c.rateDigits) +
              ",\"turnoverCents\":" + std::to_string(c.turnover) +
              ",\"taxCents\":" + TaxJson(c, r.vatAddon) + "}";
    }
    json += "],\"tpId\":" + JsonString(Cp1252ToUtf8(r.tpId)) +
            ",\"tpIdNo\":" + std::to_string(r.tpIdNo) + ",\"seqNo\":" + std::to_string(r.seqNo);
  }
  return json + "}\n";
}

}  // namespace kasse
