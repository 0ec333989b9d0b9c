#include "register/register_home.h"

#include <cerrno>
#include <string>

#include "common/files.h"
#include "common/user_folders.h"

namespace kasse {
namespace {

constexpr const char* kSeededFiles[] = {"cfg/lang.ini", "Produkte/Standard.xml"};
constexpr const char* kEmptyFolders[] = {"Journal", "Export"};

Error HomeError(const Error& cause) {
  Error error = MakeError(ErrorKind::kIo, "cannot prepare the register home: " + cause.English() +
                                              "; give --home a folder you may write");
  error.systemError = cause.systemError;
  return error;
}

Result<void> MakeFolder(const std::filesystem::path& folder) {
  if (Result<void> made = MakePrivateFolders(folder); !made) return HomeError(made.error());
  return {};
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() !=
         std::filesystem::file_type::not_found;
}

// Taken only when the name is free: two first starts at once never replace each other's file.
Result<void> CreateExclusively(const std::filesystem::path& target, const std::string& contents) {
  FileWrite how;
  how.existing = Existing::kKeep;
  how.mode = 0644;
  Result<void> written = WriteFileAtomic(target, contents, how);
  if (!written && written.error().systemError == EEXIST) return {};
  if (!written) return HomeError(written.error());
  return {};
}

Result<void> SeedFile(const std::filesystem::path& home, const std::filesystem::path& defaults,
                      const std::filesystem::path& relative) {
  const std::filesystem::path target = home / relative;
  if (Exists(target)) return {};
  Result<std::string> contents = ReadFile(defaults / relative);
  if (!contents)
    return MakeError(ErrorKind::kMissingInput,
                     "the register's default files are missing: " + contents.error().English() +
                         "; reinstall kasse or give --home a home that holds " + relative.string());
  if (Result<void> made = MakeFolder(target.parent_path()); !made) return made;
  return CreateExclusively(target, *contents);
}

}  // namespace

std::filesystem::path ShippedDefaultsFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return program.parent_path().parent_path() / "share" / "kasse";
}

Result<void> SeedRegisterHome(const std::filesystem::path& home,
                              const std::filesystem::path& defaults) {
  if (Result<void> made = MakeFolder(home); !made) return made;
  for (const char* folder : kEmptyFolders)
    if (Result<void> made = MakeFolder(home / folder); !made) return made;
  for (const char* file : kSeededFiles)
    if (Result<void> seeded = SeedFile(home, defaults, file); !seeded) return seeded;
  return {};
}

}  // namespace kasse
