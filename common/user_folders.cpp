#include "common/user_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kasse {
namespace {

std::filesystem::path UserHome() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  // No HOME (a service started without one): the account's own folder.
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return "/tmp";
}

// An XDG variable counts only when it holds an absolute path.
std::filesystem::path XdgFolder(const char* variable, const char* fallback) {
  if (const char* value = std::getenv(variable); value != nullptr && value[0] == '/')
    return std::filesystem::path(value) / "kasse";
  return UserHome() / fallback / "kasse";
}

}  // namespace

std::filesystem::path DefaultRegisterHome() {
  return XdgFolder("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path UserStateFolder() {
  return XdgFolder("XDG_STATE_HOME", ".local/state");
}

std::filesystem::path DefaultCardStateFile(int versionLevel) {
  return UserStateFolder() / ("card-v" + std::to_string(versionLevel) + ".state");
}

std::filesystem::path TestIssuerCertificateFile() {
  return UserStateFolder() / "test-issuer.der";
}
std::filesystem::path TestIssuerKeyFile() {
  return UserStateFolder() / "test-issuer.key";
}
std::filesystem::path TestIssuerSerialFile() {
  return UserStateFolder() / "test-issuer.serial";
}

std::string PathError(const std::filesystem::path& path, int error) {
  return path.string() + ": " + std::strerror(error);
}

}  // namespace kasse
