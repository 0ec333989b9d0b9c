#pragma once
// Captions and hints by tag: each window notes which of its controls carry which tag, and
// Apply re-reads them from the current language (at start and when the language changes).

#include <QPointer>
#include <QString>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace kasse {

class Language;
struct Error;

// UTF-8 for the window from the core's cp1252.
QString FromCore(const std::string& text);
std::string ToCore(const QString& text);

// A message of the register in the operator's current language (the one translation of an
// error to user text).
QString OperatorMessage(const Language& language, const Error& error);

class CaptionBook {
 public:
  // kCaption: caption and hint (labels, buttons, boxes, menu entries, the window title);
  // kPanel: caption only when the language gives one, and the hint; kHint: hint only (fields).
  enum class Kind { kCaption, kPanel, kHint };

  void Add(QObject* control, int tag, Kind kind = Kind::kCaption);
  void Apply(const Language& language) const;

 private:
  struct Entry {
    QPointer<QObject> control;
    int tag;
    Kind kind;
  };
  std::vector<Entry> entries_;
};

}  // namespace kasse
