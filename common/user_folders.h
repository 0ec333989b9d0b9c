#pragma once
// Where a user's register and simulated card live. The program's own folder is not the user's
// to write (an installed copy sits under /usr), so the register home defaults to the user's
// data folder and the simulated card, a device rather than part of the register, to the
// user's state folder. Both follow the XDG base directory rules.

#include <filesystem>
#include <string>

namespace kasse {

// $XDG_DATA_HOME/kasse, else ~/.local/share/kasse: the default register home.
std::filesystem::path DefaultRegisterHome();
// $XDG_STATE_HOME/kasse, else ~/.local/state/kasse: the simulated cards and their issuer.
std::filesystem::path UserStateFolder();
// The default card of a version level: UserStateFolder()/card-v1.state or card-v2.state.
std::filesystem::path DefaultCardStateFile(int versionLevel);
// The user's test issuer, which certifies every simulated card: its certificate (DER).
std::filesystem::path TestIssuerCertificateFile();
// The issuer's private key (0600) and the file that hands out card numbers, beside it.
std::filesystem::path TestIssuerKeyFile();
std::filesystem::path TestIssuerSerialFile();

// "PATH: reason" for a failed system call, with the system's text for errno `error`.
std::string PathError(const std::filesystem::path& path, int error);

}  // namespace kasse
