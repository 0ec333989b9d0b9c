#include "ui/about_box.h"

#include <QMessageBox>

#include "register/language.h"
#include "register/messages.h"
#include "ui/status_line.h"

namespace kasse {

QString AboutText(const Language& language, const AboutFacts& facts) {
  const auto path = [](const std::filesystem::path& folder) {
    return QString::fromStdString(folder.string());
  };
  QStringList lines;
  lines << QStringLiteral("kasse ") + QString::fromStdString(facts.version);
  lines << MessageWith(language, msg::kAboutLicence);
  lines << QString();
  lines << MessageWith(language, msg::kAboutHome, {path(facts.home)});
  lines << MessageWith(language, msg::kAboutStateFolder, {path(facts.stateFolder)});
  return lines.join(QLatin1Char('\n'));
}

QMessageBox* ShowAbout(QWidget* parent, const Language& language, const AboutFacts& facts,
                       const QString& title) {
  auto* box = new QMessageBox(QMessageBox::Information, title, AboutText(language, facts),
                              QMessageBox::Ok, parent);
  box->setObjectName(QStringLiteral("AboutBox"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  // The folders are there to be copied into a file manager or a shell.
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->open();
  return box;
}

}  // namespace kasse
