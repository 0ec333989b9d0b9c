#pragma once
// The messages of printing and saving receipts.

#include "common/message_id.h"

namespace kasse::receipt_msg {

inline constexpr MessageId kPrintJobFailed{157, "print job on \"%1\": %2: %3"};
inline constexpr MessageId kPrinterMissing{158,
                                           "kann Drucker mit Namen \"%1\" nicht \xF6"
                                           "ffnen"};
inline constexpr MessageId kCannotCreateReceipt{159, "cannot create %1 (%2)"};
// The steps of a raw print job, named inside kPrintJobFailed.
inline constexpr MessageId kJobNotCreated{172, "cannot create the job"};
inline constexpr MessageId kDocumentNotStarted{173, "cannot start the document"};
inline constexpr MessageId kDataNotSent{174, "cannot send the data"};
inline constexpr MessageId kDocumentRefused{175, "the document was refused"};

inline constexpr const MessageId* kAll[] = {
    &kPrintJobFailed,     &kPrinterMissing, &kCannotCreateReceipt, &kJobNotCreated,
    &kDocumentNotStarted, &kDataNotSent,    &kDocumentRefused};

}  // namespace kasse::receipt_msg
