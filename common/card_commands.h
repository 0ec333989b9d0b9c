#pragma once
// The commands the register sends the QOR card, named once: the class, instruction and
// parameter bytes of each, the application and file they name, the status words the register
// tells apart, and the card's answer as data and status word. The tags inside the data are in
// card_tags.h. How a person reads a command (the card monitor, the function monitor, the debug
// console) is CommandText; everywhere else a command is bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace kasse {

// CLA INS P1 P2.
struct CommandHeader {
  Byte cla = 0;
  Byte ins = 0;
  Byte p1 = 0;
  Byte p2 = 0;
};

namespace cmd {

// Classes: ISO/IEC 7816-4 (with bit 0x10: more blocks of a chain follow), the QOR's own, and
// the GSM class of the reader probe.
inline constexpr Byte kClaIso = 0x00;
inline constexpr Byte kClaChainMore = 0x10;
inline constexpr Byte kClaQor = 0x80;
inline constexpr Byte kClaGsm = 0xA0;

inline constexpr Byte kInsSelect = 0xA4;
inline constexpr Byte kInsReadBinary = 0xB0;
inline constexpr Byte kInsGetData = 0xCA;
inline constexpr Byte kInsHash = 0x2A;  // PERFORM SECURITY OPERATION
inline constexpr Byte kInsGetResponse = 0xC0;
inline constexpr Byte kInsTransaction = 0x40;
inline constexpr Byte kInsReport = 0x42;
inline constexpr Byte kInsVerifySignature = 0x44;

// The card session.
inline constexpr CommandHeader kSelectApplication{kClaIso, kInsSelect, 0x04, 0x00};
inline constexpr CommandHeader kSelectFile{kClaIso, kInsSelect, 0x00, 0x0C};
inline constexpr CommandHeader kGetCardStatus{kClaIso, kInsGetData, 0x01, 0xF1};
inline constexpr CommandHeader kGetBookedMonths{kClaIso, kInsGetData, 0x01, 0xF2};
inline constexpr CommandHeader kGetHashLength{kClaIso, kInsGetData, 0x01, 0xF3};
inline constexpr CommandHeader kGetAlgorithms{kClaIso, kInsGetData, 0x01, 0xF4};
// P1 P2: the offset into the selected file.
inline constexpr CommandHeader kReadBinary{kClaIso, kInsReadBinary, 0x00, 0x00};
// SHA-1 of the data; every block but the last of a chain has kClaChainMore.
inline constexpr CommandHeader kHash{kClaIso, kInsHash, 0x90, 0x80};

// The signing exchange and the reports.
inline constexpr CommandHeader kTransaction{kClaQor, kInsTransaction, 0x00, 0x00};
inline constexpr CommandHeader kVerifySignature{kClaQor, kInsVerifySignature, 0x00, 0x00};
inline constexpr CommandHeader kReportSigned{kClaQor, kInsReport, 0x01, 0x00};
inline constexpr CommandHeader kReportUnsigned{kClaQor, kInsReport, 0x02, 0x00};
inline constexpr CommandHeader kReportSpan{kClaQor, kInsReport, 0x03, 0x00};
inline constexpr CommandHeader kReportActivate{kClaQor, kInsReport, 0x04, 0x00};
inline constexpr CommandHeader kReportDeactivate{kClaQor, kInsReport, 0x05, 0x00};

// The connector's probe of a GSM card.
inline constexpr CommandHeader kGsmSelect{kClaGsm, kInsSelect, 0x00, 0x00};
inline constexpr CommandHeader kGsmGetResponse{kClaGsm, kInsGetResponse, 0x00, 0x00};

// Le 00: as many bytes as the card has to give.
inline constexpr Byte kLeAll = 0x00;

// What the selections name.
inline constexpr Byte kQorApplication[] = {0xD2, 0x76, 0x00, 0x01, 0x48, 0x51, 0x4F, 0x52};
inline constexpr Byte kCertificateFile[] = {0x11, 0x10};
inline constexpr Byte kGsmDirectory[] = {0x7F, 0x20};

// Status words.
inline constexpr std::uint16_t kStatusAccepted = 0x9000;
// The booked months are there, but too many or too far apart for one answer.
inline constexpr std::uint16_t kStatusMonthsBeyondOneAnswer = 0x6984;
// SW1 of a GSM card with an answer waiting for GET RESPONSE (SW2: its length).
inline constexpr Byte kGsmAnswerWaiting = 0x9F;

}  // namespace cmd

// The header alone; with data also Lc and the data. Le is the caller's to append.
Bytes CommandBytes(CommandHeader header);
Bytes CommandBytes(CommandHeader header, ByteSpan data);

// A card's answer: the data before the status word, and the status word (SW1 SW2).
struct CardAnswer {
  Bytes data;
  std::uint16_t statusWord = 0;
  bool Accepted() const { return statusWord == cmd::kStatusAccepted; }
};

// A whole answer split at its status word, the last two bytes; nothing when shorter.
std::optional<CardAnswer> SplitAnswer(ByteSpan answer);

// The status word as the journal keeps it: four upper-case hex digits ("6985").
std::string StatusWordText(std::uint16_t statusWord);

// A command as a person reads it (the card monitor, the function monitor, the debug console),
// in the form each kind of command has always been shown there:
//   TRANSACTION and the reports   every byte followed by a blank ("80 40 00 00 37 ... 00 "),
//                                 the activation's last byte without one
//   VERIFY SIGNATURE              compact ("804400003A...00")
//   READ BINARY                   the offset as one group, the instruction in lower case
//                                 ("00 b0 0100 DC")
//   a hash block                  the header, Lc joined to the data bytes each followed by a
//                                 blank, then a blank and Le ("00 2A 90 80 03A0 01 32  00")
//   every other command           written form ("00 A4 04 00")
// Bytes marked in `hidden` are written "**".
std::string CommandText(ByteSpan command, const std::vector<bool>& hidden = {});

}  // namespace kasse
