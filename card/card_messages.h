#pragma once
// The messages of the card and its reader: none found, and what PC/SC said happened, by what the
// operator can do about it (card/pcsc_errors.h maps every return code to one).

#include "common/message_id.h"

namespace kasse::card_msg {

inline constexpr MessageId kNoCard{99, "no QOR card found or the card does not answer"};
inline constexpr MessageId kServiceStopped{184, "the PC/SC service is not running"};
inline constexpr MessageId kNoCardReader{185, "no card reader is connected"};
inline constexpr MessageId kReaderRemoved{186, "the card reader was removed"};
inline constexpr MessageId kNoCardInReader{187, "there is no card in the reader"};
inline constexpr MessageId kCardRemoved{188, "the QOR card was removed"};
inline constexpr MessageId kCardReset{189, "the QOR card was reset"};
inline constexpr MessageId kCardNotAnsweringReader{190, "the QOR card does not answer its reader"};
inline constexpr MessageId kCardHeldElsewhere{191, "another program holds the card"};
inline constexpr MessageId kTimeout{192, "the PC/SC service did not answer in time"};
inline constexpr MessageId kOtherCode{193, "the card reader reported the error %1"};
inline constexpr MessageId kServiceFault{
    218, "the PC/SC service failed (%1); restart it (systemctl restart pcscd) and try again"};
inline constexpr MessageId kReaderFault{
    219,
    "the card reader could not pass the command on (%1); unplug the reader and plug it in again"};
inline constexpr MessageId kCardUnusable{
    220,
    "the card in the reader cannot be used here (%1): it is not a QOR card, or the reader does not "
    "support it"};
inline constexpr MessageId kAccessRefused{221, "the card refused access (%1)"};
inline constexpr MessageId kCardDataMissing{222, "the card lacks the data asked for (%1)"};
inline constexpr MessageId kRequestRefused{
    223, "the PC/SC service refused a request of the register (%1); please report this"};
inline constexpr MessageId kCancelled{224, "the wait for the card reader was cancelled"};

inline constexpr const MessageId* kAll[] = {&kNoCard,
                                            &kServiceStopped,
                                            &kNoCardReader,
                                            &kReaderRemoved,
                                            &kNoCardInReader,
                                            &kCardRemoved,
                                            &kCardReset,
                                            &kCardNotAnsweringReader,
                                            &kCardHeldElsewhere,
                                            &kTimeout,
                                            &kOtherCode,
                                            &kServiceFault,
                                            &kReaderFault,
                                            &kCardUnusable,
                                            &kAccessRefused,
                                            &kCardDataMissing,
                                            &kRequestRefused,
                                            &kCancelled};

}  // namespace kasse::card_msg
