#pragma once
// What the main window's status bar keeps in view besides the messages of the moment: which
// card the register uses, and where the verification page of its receipts is.

#include <QString>
#include <QStringList>
#include <string>

namespace kasse {

class Language;
struct MessageId;

// A register message in the operator's language, else in English, with its variable parts
// %1 to %9 as given (paths and reader names keep the system's own characters).
QString MessageWith(const Language& language, const MessageId& message,
                    const QStringList& args = {});

// The simulated card inside the register, the simulated card on a vpcd reader, or a card in
// the reader named; empty before a card behind pcsc-lite was found.
QString CardInUseText(const Language& language, bool inRegister, const std::string& reader);

// The page behind the receipts' QR codes on `host` ([Verify] host of cfg/start.ini).
QString VerifyPageText(const Language& language, const std::string& host);

}  // namespace kasse
