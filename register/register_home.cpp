#include "register/register_home.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/files.h"
#include "common/user_folders.h"

namespace kasse {
namespace {

constexpr const char* kSeededFiles[] = {"cfg/lang.ini", "Produkte/Standard.xml"};
constexpr const char* kEmptyFolders[] = {"Journal", "Export"};

Error HomeError(const std::filesystem::path& path, int error) {
  return MakeError(ErrorKind::kIo, "cannot prepare the register home: " + PathError(path, error) +
                                       "; give --home a folder you may write");
}

Result<void> MakeFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return HomeError(folder, error.value());
  return {};
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() !=
         std::filesystem::file_type::not_found;
}

Result<void> WriteAll(int descriptor, const std::string& contents,
                      const std::filesystem::path& path) {
  for (std::size_t done = 0; done < contents.size();) {
    const ssize_t written = ::write(descriptor, contents.data() + done, contents.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return HomeError(path, written < 0 ? errno : EIO);
    done += static_cast<std::size_t>(written);
  }
  if (::fsync(descriptor) != 0) return HomeError(path, errno);
  return {};
}

// Writes a unique temporary file beside `target` and links it to the target's name, which fails
// when the name exists: two first starts at once never replace each other's file.
Result<void> CreateExclusively(const std::filesystem::path& target, const std::string& contents) {
  std::string pattern =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  const int descriptor = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0) return HomeError(target.parent_path(), errno);
  Result<void> written = WriteAll(descriptor, contents, pattern);
  if (written && ::fchmod(descriptor, 0644) != 0) written = HomeError(pattern, errno);
  if (::close(descriptor) != 0 && written) written = HomeError(pattern, errno);
  if (written && ::link(pattern.c_str(), target.c_str()) != 0 && errno != EEXIST)
    written = HomeError(target, errno);
  ::unlink(pattern.c_str());
  return written;
}

Result<void> SeedFile(const std::filesystem::path& home, const std::filesystem::path& defaults,
                      const std::filesystem::path& relative) {
  const std::filesystem::path target = home / relative;
  if (Exists(target)) return {};
  Result<std::string> contents = ReadFile(defaults / relative);
  if (!contents)
    return MakeError(ErrorKind::kMissingInput,
                     "the register's default files are missing: " + contents.error().message +
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
