#pragma once
// The messages of the card protocol: the sale's record, the card's answers, the reports.

#include "common/message_id.h"

namespace kasse::protocol_msg {

inline constexpr MessageId kQuantityNotNumber{111, "The quantity is not a number"};
inline constexpr MessageId kAnswerUnreadable{138, "the card's answer cannot be read: %1"};
inline constexpr MessageId kSignatureNotConfirmed{139, "the card did not confirm the signature"};
inline constexpr MessageId kQuantityTooLong{140, "The quantity is too long"};
inline constexpr MessageId kReportAnswerEnds{141, "report answer ends inside %1"};
inline constexpr MessageId kNoFirstMonth{142, "booked months: no first month"};
inline constexpr MessageId kFirstMonthNotMonth{143, "booked months: first month is not a month"};
inline constexpr MessageId kMonthListEnds{144, "booked months: list ends early"};
inline constexpr MessageId kCardAnswerEnds{145, "card answer ends inside %1"};
inline constexpr MessageId kTpIdNoTooLong{146, "tpIdNo longer than 8 bytes"};
inline constexpr MessageId kSequenceTooLong{147, "sequence number longer than 8 bytes"};
inline constexpr MessageId kNoSequenceNumber{
    148, "the card's answer has no sequence number with a signature behind it"};
inline constexpr MessageId kNoRecordToVerify{149, "no transaction record to verify"};
inline constexpr MessageId kVerifyDataTooLong{150,
                                              "the data to verify exceed 250 bytes; not verified"};
inline constexpr MessageId kCardRefusedReport{151, "the card refused %1"};
inline constexpr MessageId kMonthPacked{152, "a month is three packed bytes"};
inline constexpr MessageId kPinSixDigits{153, "the transport PIN is six digits"};
inline constexpr MessageId kDeactivationDeclined{154, "deactivation declined"};
inline constexpr MessageId kNoBookedMonths{155, "the card gave no booked months"};
inline constexpr MessageId kRecordTooLarge{
    156,
    "The sale does not fit into one transaction record (at most 250 bytes); cash it in as "
    "smaller sales"};
inline constexpr MessageId kCardDidNotSign{167, "the card did not sign the transaction"};
inline constexpr MessageId kCardStoppedReport{182, "the card stopped answering %1"};
inline constexpr MessageId kMonthsBeyondOneAnswer{
    217,
    "the card's booked months are more, or further apart, than one answer can list (a month more "
    "than 255 months after the first); the span report still covers every month"};

inline constexpr const MessageId* kAll[] = {
    &kQuantityNotNumber, &kAnswerUnreadable,     &kSignatureNotConfirmed, &kQuantityTooLong,
    &kReportAnswerEnds,  &kNoFirstMonth,         &kFirstMonthNotMonth,    &kMonthListEnds,
    &kCardAnswerEnds,    &kTpIdNoTooLong,        &kSequenceTooLong,       &kNoSequenceNumber,
    &kNoRecordToVerify,  &kVerifyDataTooLong,    &kCardRefusedReport,     &kMonthPacked,
    &kPinSixDigits,      &kDeactivationDeclined, &kNoBookedMonths,        &kRecordTooLarge,
    &kCardDidNotSign,    &kCardStoppedReport,    &kMonthsBeyondOneAnswer};

}  // namespace kasse::protocol_msg
