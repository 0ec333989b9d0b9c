#pragma once
// Records the journal could not write when the register had to end: kept in a rescue file in the
// user's state folder (written and synced, 0600), and written into a new journal pair of their
// register home, with the parameter block of the card that signed them, at the next start.
//
// A rescue file: "kasse-rescue 1\n", then the fields home, version, tpId, tpIdNo, certificate, s
// and l, each as "NAME LENGTH\n" + LENGTH bytes + "\n", then "sum " + the SHA-256 of everything
// before as hexadecimal digits + "\n". A file that does not follow this exactly is refused,
// never half read.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_io.h"
#include "common/result.h"
#include "journal/journal.h"

namespace kasse {

struct RescuedRecords {
  std::filesystem::path home;
  HeldRecords records;
};

std::string RescueText(const RescuedRecords& rescued);
Result<RescuedRecords> ParseRescue(std::string_view text);

// The folder of the rescue files: FOLDER/rescue.
std::filesystem::path RescueFolder(const std::filesystem::path& stateFolder);

// Writes a new rescue file for `rescued.home`; returns its path.
Result<std::filesystem::path> WriteRescue(const std::filesystem::path& stateFolder,
                                          const RescuedRecords& rescued,
                                          FileIo& io = PosixFileIo());

// The rescue files of one register home, oldest first.
std::vector<std::filesystem::path> RescuesOf(const std::filesystem::path& stateFolder,
                                             const std::filesystem::path& home);

// The request and the answer of every record in `sText`, as the lines "request: BASE64" and
// "answer: BASE64" (a refusal: "refused: STATUS"): what an operator copies when not even a
// rescue file could be written.
std::string RecordsAsBase64Lines(std::string_view sText);

}  // namespace kasse
