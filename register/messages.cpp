#include "register/messages.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

namespace kasse {

namespace {

struct Entry {
  Message message;
  const char* english;  // cp1252, as the layer that makes it writes it
};

using M = Message;

// The English forms exactly as the code writes them: a lower layer's message is recognised by
// this text, so a change there must be made here too (the tests make each one).
constexpr Entry kCatalogue[] = {
    {M::kNoProductSelected, "no product selected"},
    {M::kNoProductAtIndex, "no product at index %1"},
    {M::kOperatorNumber, "operator is 1 or 2"},
    {M::kTaxModeDuringSale,
     "the tax mode cannot change while a sale is open: cash it in or abort it first"},
    {M::kRatesDuringSale, "the rates cannot change during a sale"},
    {M::kRateNotFourDigits, "a rate is four digits: %1"},
    {M::kLanguageMissing, "cfg/lang.ini has no texts for the language %1"},
    {M::kCardNotReady, "the card is not ready"},
    {M::kNoCard, "no QOR card found or the card does not answer"},
    {M::kCardFailed, "the QOR card failed or was removed"},
    {M::kQuantityNotBookable, "The quantity cannot be booked"},
    {M::kAmountTooLarge, "The amount is too large"},
    {M::kReceiptFull, "The receipt is full"},
    {M::kPercentNotNumber, "The percentage is not a number"},
    {M::kPercentRange, "The percentage must be 0 to 99"},
    {M::kSaleNotTotalled, "The sale is not totalled"},
    {M::kNoTransactionBuilder, "No transaction builder"},
    {M::kMonthForm, "a month is MM/YYYY"},
    {M::kFirstMonthAfterLast, "the first month is after the last"},
    {M::kMassCounts, "mass: counts must not be negative"},
    {M::kQuantityNotNumber, "The quantity is not a number"},
    {M::kPriceNotCents, "Price %1 is not a whole number of cents"},
    {M::kSelectSpanMonths, "select the months of the span in the list"},
    {M::kMonthLineForm, "a month line is not MM/YYYY"},
    {M::kCannotPrintTo, "cannot print to %1"},
    {M::kStatusUnreadable, "the card status cannot be read"},
    {M::kCannotWriteConfig, "Cannot write %1: %2"},
    {M::kMassRunEnded, "the mass run ended after %1 of %2 sales"},
    {M::kMassFieldsWhole, "enter whole numbers (at least 1 position)"},
    {M::kMassRefusals, "%1 of %2 sales signed; the card refused %3"},
    {M::kNoQrCodeReadable, "no QR code readable"},
    {M::kWebPageNotOpened, "the web page could not be opened"},
    {M::kCannotOpen, "cannot open %1: %2"},
    {M::kCannotRead, "cannot read %1: %2"},
    {M::kCannotCreate, "cannot create %1: %2"},
    {M::kCannotWrite, "cannot write %1: %2"},
    {M::kCannotSync, "cannot sync %1: %2"},
    {M::kCannotReplace, "cannot replace %1: %2"},
    {M::kCannotSeek, "cannot seek in %1: %2"},
    {M::kCannotTruncate, "cannot truncate %1: %2"},
    {M::kNoJournalNumber, "no free journal number left for %1 (01 to 99)"},
    {M::kProductListUnreadable, "Product list %1 cannot be read: %2"},
    {M::kProductListNoItemList, "Product list %1: no <itemList> element"},
    {M::kProductListNotClosed, "Product list %1: <itemList> is not closed (file cut short?)"},
    {M::kProductListProblem, "Product list %1: %2"},
    {M::kNoProductListOpen, "No product list file is open"},
    {M::kItemNotNumber, "item \"%1\": %2 is not a usable number"},
    {M::kAnswerUnreadable, "the card's answer cannot be read: %1"},
    {M::kSignatureNotConfirmed, "the card did not confirm the signature"},
    {M::kQuantityTooLong, "The quantity is too long"},
    {M::kReportAnswerEnds, "report answer ends inside %1"},
    {M::kNoFirstMonth, "booked months: no first month"},
    {M::kFirstMonthNotMonth, "booked months: first month is not a month"},
    {M::kMonthListEnds, "booked months: list ends early"},
    {M::kCardAnswerEnds, "card answer ends inside %1"},
    {M::kTpIdNoTooLong, "tpIdNo longer than 8 bytes"},
    {M::kSequenceTooLong, "sequence number longer than 8 bytes"},
    {M::kNoSequenceNumber, "the card's answer has no sequence number with a signature behind it"},
    {M::kNoRecordToVerify, "no transaction record to verify"},
    {M::kVerifyDataTooLong, "the data to verify exceed 250 bytes; not verified"},
    {M::kCardRefusedReport, "the card refused %1"},
    {M::kMonthPacked, "a month is three packed bytes"},
    {M::kPinSixDigits, "the transport PIN is six digits"},
    {M::kDeactivationDeclined, "deactivation declined"},
    {M::kNoBookedMonths, "the card gave no booked months"},
    {M::kRecordTooLarge,
     "The sale does not fit into one transaction record (at most 250 bytes); cash it in as "
     "smaller sales"},
    {M::kPrintJobFailed, "print job on \"%1\": %2: %3"},
    {M::kPrinterMissing,
     "kann Drucker mit Namen \"%1\" nicht \xF6"
     "ffnen"},
    {M::kCannotCreateReceipt, "cannot create %1 (%2)"},
    {M::kSavedAsUtf8,
     "%1: saved as UTF-8, not Windows-1252; read with conversion (characters without a "
     "Windows-1252 form became \"?\"). Save it as Windows-1252."},
    {M::kConfigLineSkipped,
     "cfg/start.ini: line %1 is neither a section nor a key=value line; skipped"},
    {M::kConfigMoreLinesSkipped, "cfg/start.ini: %1 more lines skipped"},
    {M::kConfigKeysBeforeSection, "cfg/start.ini: keys before the first section are not read"},
    {M::kConfigRateNotUsable, "cfg/start.ini: [Tax] %1=%2 is not a four-digit rate; %3 is used"},
    {M::kCardInUse, "the card is in use by process %1"},
    {M::kJournalUnwritable, "the journal cannot be written: %1"},
    {M::kCardDidNotSign, "the card did not sign the transaction"},
    {M::kCannotCreateFolder, "cannot create %1"},
    {M::kLanguageMissingWarning,
     "cfg/lang.ini has no texts for the language %1; the register goes on with empty texts"},
    {M::kCannotWriteFile, "cannot write %1"},
    {M::kProductListSavedAsUtf8,
     "Product list %1: saved as UTF-8, not Windows-1252; read with conversion (characters "
     "without a Windows-1252 form became \"?\"). Save it as Windows-1252."},
    // The steps of a raw print job, named inside kPrintJobFailed.
    {M::kJobNotCreated, "cannot create the job"},
    {M::kDocumentNotStarted, "cannot start the document"},
    {M::kDataNotSent, "cannot send the data"},
    {M::kDocumentRefused, "the document was refused"},
    {M::kSimCardCannotStart, "the simulated QOR card cannot start: %1"},
    {M::kCardStoppedAnswering,
     "the QOR card stopped answering: no answer within %1 ms ([Card] patience); check the card and "
     "its reader"},
    {M::kSaleNotSignedJournal,
     "The sale is not signed: its request cannot be written to the journal (%1). %2 Then cash in "
     "again."},
    {M::kSaleSignedJournalHeld,
     "The sale is signed, but its journal record could not be written (%1). Its receipt waits "
     "until the record is written, and nothing more is signed before; the register tries again at "
     "every step. %2"},
    {M::kReportNotSentJournal,
     "%1 is not sent: its request cannot be written to the journal (%2). %3"},
    {M::kReportSignedJournalHeld,
     "%1 is signed, but its journal record could not be written (%2). Its receipt waits until the "
     "record is written, and nothing more is signed before; the register tries again at every "
     "step. %3"},
    {M::kCardStoppedReport, "the card stopped answering %1"},
    {M::kJournalStillHeld,
     "The journal record of the last signed sale or report is still not written (%1). Nothing more "
     "is signed until it is. %2"},
    {M::kPcscServiceStopped, "the PC/SC service is not running"},
    {M::kNoCardReader, "no card reader is connected"},
    {M::kReaderRemoved, "the card reader was removed"},
    {M::kNoCardInReader, "there is no card in the reader"},
    {M::kCardRemoved, "the QOR card was removed"},
    {M::kCardReset, "the QOR card was reset"},
    {M::kCardNotAnsweringReader, "the QOR card does not answer its reader"},
    {M::kCardHeldElsewhere, "another program holds the card"},
    {M::kPcscTimeout, "the PC/SC service did not answer in time"},
    {M::kPcscError, "the card reader reported the error %1"},
    {M::kPcscServiceFault,
     "the PC/SC service failed (%1); restart it (systemctl restart pcscd) and try again"},
    {M::kReaderFault,
     "the card reader could not pass the command on (%1); unplug the reader and plug it in "
     "again"},
    {M::kCardUnusable,
     "the card in the reader cannot be used here (%1): it is not a QOR card, or the reader does "
     "not support it"},
    {M::kPcscCancelled, "the wait for the card reader was cancelled"},
    {M::kCardAccessRefused, "the card refused access (%1)"},
    {M::kCardDataMissing, "the card lacks the data asked for (%1)"},
    {M::kPcscRequestRefused,
     "the PC/SC service refused a request of the register (%1); please "
     "report this"},
    {M::kAdviceNoSpace, "Free space on the disk."},
    {M::kAdviceNoPermission,
     "Let the register write there: check the owner and the permissions of the file and its "
     "folder."},
    {M::kAdviceReadOnly,
     "The disk is mounted read-only: mount it writable, or give the register a home (--home) on a "
     "writable disk."},
    {M::kAdviceIoError,
     "The disk reports an input/output error: check it, and move the register home to a sound "
     "disk."},
    {M::kAdviceCheckFile, "Check the file and its folder."},
    {M::kReceiptHeldLine, "### Receipt held for the journal ###"},
    {M::kNumberRepeated, "the card answered number %1, but %1 was already journalled on %2 (%3)"},
    {M::kNumberNotAbove, "the card answered number %1, but %2 was already journalled on %3 (%4)"},
    {M::kRecordsRescued,
     "A signed record could not be written to the journal; it was saved in %1 and goes into a new "
     "journal pair at the next start."},
    {M::kRecordsLost,
     "A signed record could not be written to the journal nor saved in the state folder (%1). Keep "
     "the lines below: they are the card's signed answer."},
    {M::kRescueWrittenToJournal,
     "Records saved at the end of an earlier run were written to the journal %1."},
    {M::kRescueUnwritable, "The records saved in %1 cannot be written to the journal (%2). %3"},
    {M::kNewCardKey,
     "The card %1 %2 signs with a new key: it is taken as a new card, and its numbers start "
     "afresh."},
    {M::kMonthsBeyondOneAnswer,
     "the card's booked months are more, or further apart, than one answer can list (a month more "
     "than 255 months after the first); the span report still covers every month"},
    {M::kRescueUnreadable,
     "%1 cannot be read (%2); it is left as it is. It may hold signed records: keep it."},
    {M::kCardInRegister, "card: the simulated card inside the register"},
    {M::kCardOnVpcdReader, "card: the simulated card on the vpcd reader %1"},
    {M::kCardInReader, "card: a card in reader %1"},
    {M::kVerifyPageAt, "verification page: %1"},
    {M::kCardChosenInRegister, "card: the simulated card %1, inside the register"},
    {M::kCardChosenThroughPcscd,
     "card: through pcscd, as process %2 holds the simulated card %1 (qor-sim serves it on the "
     "vpcd reader)"},
    {M::kAboutLicence, "Licence: Apache License, Version 2.0 (Apache-2.0)"},
    {M::kAboutHome, "Register home: %1"},
    {M::kAboutStateFolder, "State folder (simulated cards, test issuer, rescued records): %1"},
};

// An argument that is itself a message (the reason behind a product list error) is said in
// the operator's language too, up to this depth.
constexpr int kNestedDepth = 3;

const Entry* Find(Message message) {
  for (const Entry& entry : kCatalogue)
    if (entry.message == message) return &entry;
  return nullptr;
}

bool IsPlaceholder(std::string_view pattern, std::size_t at) {
  return pattern[at] == '%' && at + 1 < pattern.size() && pattern[at + 1] >= '1' &&
         pattern[at + 1] <= '9';
}

std::size_t LiteralLength(std::string_view pattern) {
  std::size_t length = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (IsPlaceholder(pattern, i)) {
      ++i;
      continue;
    }
    ++length;
  }
  return length;
}

// The catalogue with the most specific forms first, so that "cannot create %1: %2" is tried
// before "cannot create %1".
const std::vector<const Entry*>& ByLiteralLength() {
  static const std::vector<const Entry*> ordered = [] {
    std::vector<const Entry*> entries;
    for (const Entry& entry : kCatalogue)
      entries.push_back(&entry);
    std::stable_sort(entries.begin(), entries.end(), [](const Entry* a, const Entry* b) {
      return LiteralLength(a->english) > LiteralLength(b->english);
    });
    return entries;
  }();
  return ordered;
}

// Where the text taken by a placeholder ends: before the first place from `from` on where the
// next literal follows, or, when that literal ends the pattern, before the text's own end.
std::size_t PlaceholderEnd(std::string_view text, std::size_t from, std::string_view literal,
                           bool literalEndsPattern) {
  if (literal.empty()) return text.size();
  if (!literalEndsPattern) return text.find(literal, from);
  if (text.size() < from + literal.size() || !text.ends_with(literal))
    return std::string_view::npos;
  return text.size() - literal.size();
}

// Matches `text` against `pattern` literal by literal, collecting what the placeholders take.
// Linear in the two lengths times the number of placeholders, which is small.
bool Match(std::string_view pattern, std::string_view text, std::vector<std::string>& args) {
  std::vector<std::string> found;
  std::size_t p = 0;
  std::size_t t = 0;
  while (p < pattern.size()) {
    if (!IsPlaceholder(pattern, p)) {
      if (t >= text.size() || text[t] != pattern[p]) return false;
      ++p;
      ++t;
      continue;
    }
    const auto index = static_cast<std::size_t>(pattern[p + 1] - '1');
    p += 2;
    std::size_t literalEnd = p;
    while (literalEnd < pattern.size() && !IsPlaceholder(pattern, literalEnd))
      ++literalEnd;
    const std::size_t end =
        PlaceholderEnd(text, t, pattern.substr(p, literalEnd - p), literalEnd == pattern.size());
    if (end == std::string_view::npos) return false;
    if (found.size() <= index) found.resize(index + 1);
    found[index] = std::string(text.substr(t, end - t));
    t = end;
  }
  if (t != text.size()) return false;
  args = std::move(found);
  return true;
}

std::string Say(const LanguageTexts& texts, Message message, std::vector<std::string> args,
                std::string_view english, int depth) {
  const std::string& pattern = texts.LangText(static_cast<int>(message));
  if (pattern.empty()) return std::string(english);
  if (depth > 0) {
    for (std::string& arg : args) {
      Message inner{};
      std::vector<std::string> innerArgs;
      if (RecogniseMessage(arg, inner, innerArgs))
        arg = Say(texts, inner, std::move(innerArgs), arg, depth - 1);
    }
  }
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

Message AdviceFor(int systemError) {
  switch (systemError) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return Message::kAdviceNoSpace;
    case EACCES:
    case EPERM:
      return Message::kAdviceNoPermission;
    case EROFS:
      return Message::kAdviceReadOnly;
    case EIO:
      return Message::kAdviceIoError;
    default:
      return Message::kAdviceCheckFile;
  }
}

Error JournalError(Message message, std::vector<std::string> args, const Error& cause) {
  args.push_back(cause.message);
  args.push_back(EnglishMessage(AdviceFor(cause.systemError)));
  Error error = MessageError(ErrorKind::kIo, message, std::move(args));
  error.systemError = cause.systemError;
  return error;
}

std::string EnglishMessage(Message message, const std::vector<std::string>& args) {
  const Entry* entry = Find(message);
  return entry == nullptr ? std::string() : FillArguments(entry->english, args);
}

Error MessageError(ErrorKind kind, Message message, std::vector<std::string> args) {
  Error error = MakeError(kind, EnglishMessage(message, args));
  error.text = static_cast<int>(message);
  error.args = std::move(args);
  return error;
}

bool RecogniseMessage(std::string_view english, Message& message, std::vector<std::string>& args) {
  for (const Entry* entry : ByLiteralLength()) {
    if (Match(entry->english, english, args)) {
      message = entry->message;
      return true;
    }
  }
  return false;
}

std::string OperatorText(const LanguageTexts& texts, const Error& error) {
  if (error.text != 0)
    return Say(texts, static_cast<Message>(error.text), error.args, error.message, kNestedDepth);
  return OperatorText(texts, error.message);
}

std::string OperatorText(const LanguageTexts& texts, std::string_view english) {
  Message message{};
  std::vector<std::string> args;
  if (!RecogniseMessage(english, message, args)) return std::string(english);
  return Say(texts, message, std::move(args), english, kNestedDepth);
}

std::vector<int> MessageNumbers() {
  std::vector<int> numbers;
  for (const Entry& entry : kCatalogue)
    numbers.push_back(static_cast<int>(entry.message));
  return numbers;
}

}  // namespace kasse
