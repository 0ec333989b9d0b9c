#include "common/card_commands.h"

namespace kasse {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

enum class Form { kWritten, kBlankAfterEach, kBlankAfterAllButLast, kCompact, kReadBinary, kHash };

Form FormOf(ByteSpan command) {
  if (command.size() < 2) return Form::kWritten;
  const Byte cla = command[0];
  const Byte ins = command[1];
  if (cla == cmd::kClaQor && ins == cmd::kInsTransaction) return Form::kBlankAfterEach;
  if (cla == cmd::kClaQor && ins == cmd::kInsReport)
    return command.size() > 2 && command[2] == cmd::kReportActivate.p1 ? Form::kBlankAfterAllButLast
                                                                       : Form::kBlankAfterEach;
  if (cla == cmd::kClaQor && ins == cmd::kInsVerifySignature) return Form::kCompact;
  if (cla == cmd::kClaIso && ins == cmd::kInsReadBinary && command.size() == 5)
    return Form::kReadBinary;
  if ((cla == cmd::kClaIso || cla == (cmd::kClaIso | cmd::kClaChainMore)) && ins == cmd::kInsHash &&
      command.size() >= 6)
    return Form::kHash;
  return Form::kWritten;
}

}  // namespace

Bytes CommandBytes(CommandHeader header) {
  return {header.cla, header.ins, header.p1, header.p2};
}

Bytes CommandBytes(CommandHeader header, ByteSpan data) {
  Bytes command = CommandBytes(header);
  command.push_back(static_cast<Byte>(data.size()));
  command.insert(command.end(), data.begin(), data.end());
  return command;
}

std::optional<CardAnswer> SplitAnswer(ByteSpan answer) {
  if (answer.size() < 2) return std::nullopt;
  CardAnswer split;
  split.data.assign(answer.begin(), answer.end() - 2);
  split.statusWord = static_cast<std::uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
  return split;
}

std::string StatusWordText(std::uint16_t statusWord) {
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4)
    text += kDigits[statusWord >> shift & 0x0F];
  return text;
}

std::string CommandText(ByteSpan command, const std::vector<bool>& hidden) {
  std::string text;
  const auto put = [&](std::size_t i) {
    if (i < hidden.size() && hidden[i]) {
      text += "**";
    } else {
      text += kDigits[command[i] >> 4];
      text += kDigits[command[i] & 0x0F];
    }
  };
  const std::size_t size = command.size();
  const Form form = FormOf(command);
  switch (form) {
    case Form::kWritten:
      for (std::size_t i = 0; i < size; ++i) {
        if (i > 0) text += ' ';
        put(i);
      }
      break;
    case Form::kBlankAfterEach:
    case Form::kBlankAfterAllButLast:
      for (std::size_t i = 0; i < size; ++i) {
        put(i);
        if (i + 1 < size || form == Form::kBlankAfterEach) text += ' ';
      }
      break;
    case Form::kCompact:
      for (std::size_t i = 0; i < size; ++i)
        put(i);
      break;
    case Form::kReadBinary:
      put(0);
      text += " b0 ";
      put(2);
      put(3);
      text += ' ';
      put(4);
      break;
    case Form::kHash:
      for (std::size_t i = 0; i < 4; ++i) {
        put(i);
        text += ' ';
      }
      put(4);
      for (std::size_t i = 5; i + 1 < size; ++i) {
        put(i);
        text += ' ';
      }
      text += ' ';
      put(size - 1);
      break;
  }
  return text;
}

}  // namespace kasse
