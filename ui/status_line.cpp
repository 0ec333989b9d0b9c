#include "ui/status_line.h"

#include "register/language.h"
#include "register/messages.h"
#include "ui/captions.h"

namespace kasse {

namespace {

// vsmartcard's virtual readers carry this name; only software cards sit in them.
constexpr char kVpcdReaderName[] = "Virtual PCD";

}  // namespace

QString MessageWith(const Language& language, const MessageId& message, const QStringList& args) {
  const std::string& own = language.LangText(message.number);
  const QString pattern = FromCore(!own.empty() ? own : std::string(message.english));
  // One pass, so that an argument holding "%2" stays as it is.
  QString text;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('%') && i + 1 < pattern.size() && pattern[i + 1] >= QLatin1Char('1') &&
        pattern[i + 1] <= QLatin1Char('9')) {
      const qsizetype index = pattern[i + 1].unicode() - '1';
      if (index < args.size()) text += args[index];
      ++i;
      continue;
    }
    text += c;
  }
  return text;
}

QString CardInUseText(const Language& language, bool inRegister, const std::string& reader) {
  if (inRegister) return MessageWith(language, msg::kCardInRegister);
  if (reader.empty()) return {};
  const QString name = QString::fromStdString(reader);
  if (reader.find(kVpcdReaderName) != std::string::npos)
    return MessageWith(language, msg::kCardOnVpcdReader, {name});
  return MessageWith(language, msg::kCardInReader, {name});
}

QString VerifyPageText(const Language& language, const std::string& host) {
  return MessageWith(
      language, msg::kVerifyPageAt,
      {QStringLiteral("http://") + QString::fromStdString(host) + QStringLiteral("/verify.php")});
}

}  // namespace kasse
