#pragma once
// The operator's messages. Each message has an English form, kept here because the batch
// front-end prints it and Error::message carries it, and a numbered text of cfg/lang.ini
// (91 and up) that says it in the operator's language. Variable parts are %1, %2, ... in both.
// Errors made in the register carry their number; an error of a lower layer (a file, the card's
// answer, the product list) is recognised by its English form, so its number is found at the
// window's edge without that layer knowing about languages.

#include <string>
#include <string_view>
#include <vector>

#include "common/language_texts.h"
#include "common/result.h"

namespace kasse {

enum class Message : int {
  kNoProductSelected = 91,
  kNoProductAtIndex = 92,
  kOperatorNumber = 93,
  kTaxModeDuringSale = 94,
  kRatesDuringSale = 95,
  kRateNotFourDigits = 96,
  kLanguageMissing = 97,
  kCardNotReady = 98,
  kNoCard = 99,
  kCardFailed = 100,
  kQuantityNotBookable = 101,
  kAmountTooLarge = 102,
  kReceiptFull = 103,
  kPercentNotNumber = 104,
  kPercentRange = 105,
  kSaleNotTotalled = 106,
  kNoTransactionBuilder = 107,
  kMonthForm = 108,
  kFirstMonthAfterLast = 109,
  kMassCounts = 110,
  kQuantityNotNumber = 111,
  kPriceNotCents = 112,
  kSelectSpanMonths = 113,
  kMonthLineForm = 114,
  kCannotPrintTo = 115,
  kStatusUnreadable = 116,
  kCannotWriteConfig = 117,
  kMassRunEnded = 118,
  kMassFieldsWhole = 119,
  kMassRefusals = 120,
  kNoQrCodeReadable = 121,
  kWebPageNotOpened = 122,
  kCannotOpen = 123,
  kCannotRead = 124,
  kCannotCreate = 125,
  kCannotWrite = 126,
  kCannotSync = 127,
  kCannotReplace = 128,
  kCannotSeek = 129,
  kCannotTruncate = 130,
  kNoJournalNumber = 131,
  kProductListUnreadable = 132,
  kProductListNoItemList = 133,
  kProductListNotClosed = 134,
  kProductListProblem = 135,
  kNoProductListOpen = 136,
  kItemNotNumber = 137,
  kAnswerUnreadable = 138,
  kSignatureNotConfirmed = 139,
  kQuantityTooLong = 140,
  kReportAnswerEnds = 141,
  kNoFirstMonth = 142,
  kFirstMonthNotMonth = 143,
  kMonthListEnds = 144,
  kCardAnswerEnds = 145,
  kTpIdNoTooLong = 146,
  kSequenceTooLong = 147,
  kNoSequenceNumber = 148,
  kNoRecordToVerify = 149,
  kVerifyDataTooLong = 150,
  kCardRefusedReport = 151,
  kMonthPacked = 152,
  kPinSixDigits = 153,
  kDeactivationDeclined = 154,
  kNoBookedMonths = 155,
  kRecordTooLarge = 156,
  kPrintJobFailed = 157,
  kPrinterMissing = 158,
  kCannotCreateReceipt = 159,
  kSavedAsUtf8 = 160,
  kConfigLineSkipped = 161,
  kConfigMoreLinesSkipped = 162,
  kConfigKeysBeforeSection = 163,
  kConfigRateNotUsable = 164,
  kCardInUse = 165,
  kJournalUnwritable = 166,
  kCardDidNotSign = 167,
  kCannotCreateFolder = 168,
  kLanguageMissingWarning = 169,
  kCannotWriteFile = 170,
  kProductListSavedAsUtf8 = 171,
  kJobNotCreated = 172,
  kDocumentNotStarted = 173,
  kDataNotSent = 174,
  kDocumentRefused = 175,
  kSimCardCannotStart = 176,
  kCardStoppedAnswering = 177,
  kSaleNotSignedJournal = 178,
  kSaleSignedJournalHeld = 179,
  kReportNotSentJournal = 180,
  kReportSignedJournalHeld = 181,
  kCardStoppedReport = 182,
  kJournalStillHeld = 183,
  // What PC/SC said happened to the card or its reader (card/pcsc_errors.cpp).
  kPcscServiceStopped = 184,
  kNoCardReader = 185,
  kReaderRemoved = 186,
  kNoCardInReader = 187,
  kCardRemoved = 188,
  kCardReset = 189,
  kCardNotAnsweringReader = 190,
  kCardHeldElsewhere = 191,
  kPcscTimeout = 192,
  kPcscError = 193,
  // What to do about a file that cannot be written, by what the system said.
  kAdviceNoSpace = 194,
  kAdviceNoPermission = 195,
  kAdviceReadOnly = 196,
  kAdviceIoError = 197,
  kAdviceCheckFile = 198,
  kReceiptHeldLine = 199,
  kNumberRepeated = 200,
  kNumberNotAbove = 201,
  kRecordsRescued = 202,
  kRecordsLost = 203,
  kRescueWrittenToJournal = 204,
  kRescueUnwritable = 205,
  kNewCardKey = 206,
  kRescueUnreadable = 207,
  // The window's status bar: the card in use and where the verification page is.
  kCardInRegister = 208,
  kCardOnVpcdReader = 209,
  kCardInReader = 210,
  kVerifyPageAt = 211,
  // Where the register found the user's card when no --card named it.
  kCardChosenInRegister = 212,
  kCardChosenThroughPcscd = 213,
  // Help > About.
  kAboutLicence = 214,
  kAboutHome = 215,
  kAboutStateFolder = 216,
  kMonthsBeyondOneAnswer = 217,
  // The other PC/SC causes, by what the operator can do (card/pcsc_errors.cpp).
  kPcscServiceFault = 218,
  kReaderFault = 219,
  kCardUnusable = 220,
  kCardAccessRefused = 221,
  kCardDataMissing = 222,
  kPcscRequestRefused = 223,
  kPcscCancelled = 224,
};

// The English form with the arguments filled in.
std::string EnglishMessage(Message message, const std::vector<std::string>& args = {});

// An error that carries its message number and arguments beside its English form.
Error MessageError(ErrorKind kind, Message message, std::vector<std::string> args = {});

// The advice for a file that could not be written, by the errno of the failed call.
Message AdviceFor(int systemError);

// A journal error for the operator: `message` with `args`, then the journal's own reason and
// the advice its errno calls for as the last two arguments.
Error JournalError(Message message, std::vector<std::string> args, const Error& cause);

// Replaces %1 to %9 in `pattern` by the arguments (a missing argument gives the empty text).
std::string FillArguments(std::string_view pattern, const std::vector<std::string>& args);

// What the operator reads: the error's numbered text in the current language with its
// arguments, an error without a number recognised by its English form, or, when the language
// has no text for it, the English form itself, so a message is never blank.
std::string OperatorText(const LanguageTexts& texts, const Error& error);
// The same for an English message held as text (the register's start-up warnings).
std::string OperatorText(const LanguageTexts& texts, std::string_view english);

// The English form's number and arguments, when `english` has the form of a known message.
bool RecogniseMessage(std::string_view english, Message& message, std::vector<std::string>& args);

// Every message number, for the check that each language of the file has them all.
std::vector<int> MessageNumbers();

}  // namespace kasse
