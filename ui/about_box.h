#pragma once
// Help > About: the register's version, its licence and the folders it uses.

#include <QString>
#include <filesystem>
#include <string>

class QMessageBox;
class QWidget;

namespace kasse {

class Language;

struct AboutFacts {
  std::string version;                // of the kasse program
  std::filesystem::path home;         // the register home
  std::filesystem::path stateFolder;  // simulated cards, test issuer, rescued records
};

QString AboutText(const Language& language, const AboutFacts& facts);

// Opens the box over `parent` without blocking; it goes when it is closed.
QMessageBox* ShowAbout(QWidget* parent, const Language& language, const AboutFacts& facts,
                       const QString& title);

}  // namespace kasse
