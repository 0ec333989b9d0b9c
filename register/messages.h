#pragma once
// The register's own messages (see common/message_id.h): what the operator is told about the
// sale, the reports, the card's state, the journal and the start. The layers below name theirs
// beside their code; errors carry them up, and the window says them in the operator's language
// (common/message_text.h).

#include <string>
#include <vector>

#include "common/message_id.h"
#include "common/result.h"

namespace kasse {
namespace msg {

inline constexpr MessageId kNoProductSelected{91, "no product selected"};
inline constexpr MessageId kNoProductAtIndex{92, "no product at index %1"};
inline constexpr MessageId kOperatorNumber{93, "operator is 1 or 2"};
inline constexpr MessageId kTaxModeDuringSale{
    94, "the tax mode cannot change while a sale is open: cash it in or abort it first"};
inline constexpr MessageId kRatesDuringSale{95, "the rates cannot change during a sale"};
inline constexpr MessageId kRateNotFourDigits{96, "a rate is four digits: %1"};
inline constexpr MessageId kCardNotReady{98, "the card is not ready"};
inline constexpr MessageId kCardFailed{100, "the QOR card failed or was removed"};
inline constexpr MessageId kQuantityNotBookable{101, "The quantity cannot be booked"};
inline constexpr MessageId kAmountTooLarge{102, "The amount is too large"};
inline constexpr MessageId kReceiptFull{103, "The receipt is full"};
inline constexpr MessageId kPercentNotNumber{104, "The percentage is not a number"};
inline constexpr MessageId kPercentRange{105, "The percentage must be 0 to 99"};
inline constexpr MessageId kSaleNotTotalled{106, "The sale is not totalled"};
inline constexpr MessageId kMonthForm{108, "a month is MM/YYYY"};
inline constexpr MessageId kFirstMonthAfterLast{109, "the first month is after the last"};
inline constexpr MessageId kMassCounts{110, "mass: counts must not be negative"};
inline constexpr MessageId kPriceNotCents{112, "Price %1 is not a whole number of cents"};
inline constexpr MessageId kSelectSpanMonths{113, "select the months of the span in the list"};
inline constexpr MessageId kMonthLineForm{114, "a month line is not MM/YYYY"};
inline constexpr MessageId kCannotPrintTo{115, "cannot print to %1"};
inline constexpr MessageId kStatusUnreadable{116, "the card status cannot be read"};
inline constexpr MessageId kMassRunEnded{118, "the mass run ended after %1 of %2 sales"};
inline constexpr MessageId kMassFieldsWhole{119, "enter whole numbers (at least 1 position)"};
inline constexpr MessageId kMassRefusals{120, "%1 of %2 sales signed; the card refused %3"};
inline constexpr MessageId kNoQrCodeReadable{121, "no QR code readable"};
inline constexpr MessageId kWebPageNotOpened{122, "the web page could not be opened"};
inline constexpr MessageId kConfigLineSkipped{
    161, "cfg/start.ini: line %1 is neither a section nor a key=value line; skipped"};
inline constexpr MessageId kConfigMoreLinesSkipped{162, "cfg/start.ini: %1 more lines skipped"};
inline constexpr MessageId kConfigKeysBeforeSection{
    163, "cfg/start.ini: keys before the first section are not read"};
inline constexpr MessageId kConfigRateNotUsable{
    164, "cfg/start.ini: [Tax] %1=%2 is not a four-digit rate; %3 is used"};
inline constexpr MessageId kLanguageMissingWarning{
    169, "cfg/lang.ini has no texts for the language %1; the register goes on with empty texts"};
inline constexpr MessageId kSimCardCannotStart{176, "the simulated QOR card cannot start: %1"};
inline constexpr MessageId kCardStoppedAnswering{
    177,
    "the QOR card stopped answering: no answer within %1 ms ([Card] patience); check the card and "
    "its reader"};
inline constexpr MessageId kSaleNotSignedJournal{
    178,
    "The sale is not signed: its request cannot be written to the journal (%1). %2 Then cash in "
    "again."};
inline constexpr MessageId kSaleSignedJournalHeld{
    179,
    "The sale is signed, but its journal record could not be written (%1). Its receipt waits "
    "until the record is written, and nothing more is signed before; the register tries again at "
    "every step. %2"};
inline constexpr MessageId kReportNotSentJournal{
    180, "%1 is not sent: its request cannot be written to the journal (%2). %3"};
inline constexpr MessageId kReportSignedJournalHeld{
    181,
    "%1 is signed, but its journal record could not be written (%2). Its receipt waits until the "
    "record is written, and nothing more is signed before; the register tries again at every "
    "step. %3"};
inline constexpr MessageId kJournalStillHeld{
    183,
    "The journal record of the last signed sale or report is still not written (%1). Nothing more "
    "is signed until it is. %2"};
inline constexpr MessageId kReceiptHeldLine{199, "### Receipt held for the journal ###"};
inline constexpr MessageId kNumberRepeated{
    200, "the card answered number %1, but %1 was already journalled on %2 (%3)"};
inline constexpr MessageId kNumberNotAbove{
    201, "the card answered number %1, but %2 was already journalled on %3 (%4)"};
inline constexpr MessageId kRecordsRescued{
    202,
    "A signed record could not be written to the journal; it was saved in %1 and goes into a new "
    "journal pair at the next start."};
inline constexpr MessageId kRecordsLost{
    203,
    "A signed record could not be written to the journal nor saved in the state folder (%1). Keep "
    "the lines below: they are the card's signed answer."};
inline constexpr MessageId kRescueWrittenToJournal{
    204, "Records saved at the end of an earlier run were written to the journal %1."};
inline constexpr MessageId kRescueUnwritable{
    205, "The records saved in %1 cannot be written to the journal (%2). %3"};
inline constexpr MessageId kNewCardKey{
    206,
    "The card %1 %2 signs with a new key: it is taken as a new card, and its numbers start "
    "afresh."};
inline constexpr MessageId kRescueUnreadable{
    207, "%1 cannot be read (%2); it is left as it is. It may hold signed records: keep it."};
inline constexpr MessageId kCardInRegister{208, "card: the simulated card inside the register"};
inline constexpr MessageId kCardOnVpcdReader{209, "card: the simulated card on the vpcd reader %1"};
inline constexpr MessageId kCardInReader{210, "card: a card in reader %1"};
inline constexpr MessageId kVerifyPageAt{211, "verification page: %1"};
inline constexpr MessageId kCardChosenInRegister{
    212, "card: the simulated card %1, inside the register"};
inline constexpr MessageId kCardChosenThroughPcscd{
    213,
    "card: through pcscd, as process %2 holds the simulated card %1 (qor-sim serves it on the "
    "vpcd reader)"};
inline constexpr MessageId kAboutLicence{214, "Licence: Apache License, Version 2.0 (Apache-2.0)"};
inline constexpr MessageId kAboutHome{215, "Register home: %1"};
inline constexpr MessageId kAboutStateFolder{
    216, "State folder (simulated cards, test issuer, rescued records): %1"};

inline constexpr const MessageId* kAll[] = {&kNoProductSelected,
                                            &kNoProductAtIndex,
                                            &kOperatorNumber,
                                            &kTaxModeDuringSale,
                                            &kRatesDuringSale,
                                            &kRateNotFourDigits,
                                            &kCardNotReady,
                                            &kCardFailed,
                                            &kQuantityNotBookable,
                                            &kAmountTooLarge,
                                            &kReceiptFull,
                                            &kPercentNotNumber,
                                            &kPercentRange,
                                            &kSaleNotTotalled,
                                            &kMonthForm,
                                            &kFirstMonthAfterLast,
                                            &kMassCounts,
                                            &kPriceNotCents,
                                            &kSelectSpanMonths,
                                            &kMonthLineForm,
                                            &kCannotPrintTo,
                                            &kStatusUnreadable,
                                            &kMassRunEnded,
                                            &kMassFieldsWhole,
                                            &kMassRefusals,
                                            &kNoQrCodeReadable,
                                            &kWebPageNotOpened,
                                            &kConfigLineSkipped,
                                            &kConfigMoreLinesSkipped,
                                            &kConfigKeysBeforeSection,
                                            &kConfigRateNotUsable,
                                            &kLanguageMissingWarning,
                                            &kSimCardCannotStart,
                                            &kCardStoppedAnswering,
                                            &kSaleNotSignedJournal,
                                            &kSaleSignedJournalHeld,
                                            &kReportNotSentJournal,
                                            &kReportSignedJournalHeld,
                                            &kJournalStillHeld,
                                            &kReceiptHeldLine,
                                            &kNumberRepeated,
                                            &kNumberNotAbove,
                                            &kRecordsRescued,
                                            &kRecordsLost,
                                            &kRescueWrittenToJournal,
                                            &kRescueUnwritable,
                                            &kNewCardKey,
                                            &kRescueUnreadable,
                                            &kCardInRegister,
                                            &kCardOnVpcdReader,
                                            &kCardInReader,
                                            &kVerifyPageAt,
                                            &kCardChosenInRegister,
                                            &kCardChosenThroughPcscd,
                                            &kAboutLicence,
                                            &kAboutHome,
                                            &kAboutStateFolder};

}  // namespace msg

// A journal error for the operator: `what` with `args`, then the journal's own error and the
// advice its errno calls for as the last two arguments.
Error JournalError(const MessageId& what, std::vector<MessageArg> args, const Error& cause);

// Every message of the register and the layers below it that the register shows.
std::vector<const MessageId*> RegisterMessages();

}  // namespace kasse
