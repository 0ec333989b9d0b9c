#pragma once
// The messages of files: what could not be done to which file, why, and what to do about it.

#include "common/message_id.h"

namespace kasse::file_msg {

inline constexpr MessageId kCannotOpen{123, "cannot open %1: %2"};
inline constexpr MessageId kCannotRead{124, "cannot read %1: %2"};
inline constexpr MessageId kCannotCreate{125, "cannot create %1: %2"};
inline constexpr MessageId kCannotWrite{126, "cannot write %1: %2"};
inline constexpr MessageId kCannotSync{127, "cannot sync %1: %2"};
inline constexpr MessageId kCannotReplace{128, "cannot replace %1: %2"};
inline constexpr MessageId kCannotSeek{129, "cannot seek in %1: %2"};
inline constexpr MessageId kCannotTruncate{130, "cannot truncate %1: %2"};
inline constexpr MessageId kCannotCreateFolder{168, "cannot create %1"};
inline constexpr MessageId kCannotWriteFile{170, "cannot write %1"};
inline constexpr MessageId kSavedAsUtf8{
    160,
    "%1: saved as UTF-8, not Windows-1252; read with conversion (characters without a "
    "Windows-1252 form became \"?\"). Save it as Windows-1252."};
// What to do about a file that cannot be written, by what the system said.
inline constexpr MessageId kAdviceNoSpace{194, "Free space on the disk."};
inline constexpr MessageId kAdviceNoPermission{
    195,
    "Let the register write there: check the owner and the permissions of the file and its "
    "folder."};
inline constexpr MessageId kAdviceReadOnly{
    196,
    "The disk is mounted read-only: mount it writable, or give the register a home (--home) on a "
    "writable disk."};
inline constexpr MessageId kAdviceIoError{
    197,
    "The disk reports an input/output error: check it, and move the register home to a sound "
    "disk."};
inline constexpr MessageId kAdviceCheckFile{198, "Check the file and its folder."};

inline constexpr const MessageId* kAll[] = {
    &kCannotOpen,         &kCannotRead,      &kCannotCreate,  &kCannotWrite,
    &kCannotSync,         &kCannotReplace,   &kCannotSeek,    &kCannotTruncate,
    &kCannotCreateFolder, &kCannotWriteFile, &kSavedAsUtf8,   &kAdviceNoSpace,
    &kAdviceNoPermission, &kAdviceReadOnly,  &kAdviceIoError, &kAdviceCheckFile};

}  // namespace kasse::file_msg
