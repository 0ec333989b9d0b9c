#include "sim/test_issuer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#include "common/files.h"
#include "common/user_folders.h"
#include "sim/certificate_maker.h"
#include "sim/issuer_files.h"

namespace kasse::sim {
namespace {

constexpr std::size_t kFileLimit = 64 * 1024;
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kPublicMode = 0644;

struct IssuerFiles {
  std::filesystem::path certificate;
  std::filesystem::path key;
  std::filesystem::path serial;
  std::filesystem::path lock;
};

// The same names as in the user's state folder, in whichever folder holds the issuer.
IssuerFiles FilesIn(const std::filesystem::path& folder) {
  return {folder / TestIssuerCertificateFile().filename(), folder / TestIssuerKeyFile().filename(),
          folder / TestIssuerSerialFile().filename(), folder / "test-issuer.lock"};
}

Error Damaged(const std::filesystem::path& path, const std::string& what) {
  return MakeError(ErrorKind::kMalformed, "test issuer: " + path.string() + ": " + what);
}

// The serial file holds the last number given, in decimal, and a line end.
std::optional<std::uint32_t> ParseSerial(const std::string& text) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  if (!text.empty() && text.back() == '\n') --end;
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || stop == text.data()) return std::nullopt;
  return value;
}

// A key left readable by others is tightened rather than refused.
void TightenKey(FileIo& io, const std::filesystem::path& key, const NoticeSink& notice) {
  struct stat info {};
  if (::lstat(key.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return;
  const int fd = io.Open(key, O_RDONLY | O_NOFOLLOW, 0);
  if (fd < 0) return;
  if (io.ChangeMode(fd, kPrivateMode) == 0) {
    Say(notice,
        "made " + key.string() + " readable by its owner only: it is the test issuer's key");
  }
  io.Close(fd);
}

// The key, made and written when there is none yet. Written before the certificate, so a
// crash in between leaves a key to certify anew, never a certificate without its key.
Result<Bytes> LoadOrMakeKey(FileIo& io, const IssuerFiles& files, const SmallFile& certificate,
                            const NoticeSink& notice) {
  auto key = ReadSmallFile(files.key, kFileLimit);
  if (!key) return key.error();
  if (key->presence == Presence::kPresent) {
    TightenKey(io, files.key, notice);
    return ToBytes(key->contents);
  }
  if (certificate.presence == Presence::kPresent) {
    return Damaged(files.key, "missing beside its certificate; move " + files.certificate.string() +
                                  " away to make a new issuer (cards are certified anew "
                                  "at their next start)");
  }
  auto made = NewIssuerKey();
  if (!made) return made;
  auto written = WriteSmallFile(io, files.key, ToText(*made), kPrivateMode, Existing::kKeep);
  if (!written) return written.error();
  return made;
}

void RemoveLeftovers(FileIo& io, const std::filesystem::path& folder, const IssuerFiles& files,
                     const NoticeSink& notice) {
  const std::vector<std::string> targets = {files.certificate.filename().string(),
                                            files.key.filename().string(),
                                            files.serial.filename().string()};
  for (const auto& removed : RemoveLeftoverTemporaries(folder, targets, io)) {
    Say(notice, "removed " + removed.string() +
                    ": a temporary file of the test issuer left by a write that was cut short");
  }
}

}  // namespace

Result<TestIssuer> TestIssuer::Open(const std::filesystem::path& folder, FileIo& io,
                                    const NoticeSink& notice) {
  TestIssuer issuer;
  issuer.folder_ = folder.empty() ? UserStateFolder() : folder;
  issuer.io_ = &io;
  if (auto made = MakePrivateFolders(issuer.folder_, io); !made) return made.error();
  const IssuerFiles files = FilesIn(issuer.folder_);
  auto lock = FolderLock::Take(files.lock);
  if (!lock) return lock.error();
  RemoveLeftovers(io, issuer.folder_, files, notice);
  auto certificate = ReadSmallFile(files.certificate, kFileLimit);
  if (!certificate) return certificate.error();
  auto key = LoadOrMakeKey(io, files, *certificate, notice);
  if (!key) return key.error();
  issuer.key_ = std::move(key.value());
  if (certificate->presence == Presence::kPresent) {
    issuer.certificate_ = ToBytes(certificate->contents);
    if (!CertifiesKey(issuer.certificate_, issuer.key_)) {
      return Damaged(files.certificate, "does not belong to the key in " + files.key.string() +
                                            "; move both away to make a new issuer");
    }
    if (!IsIssuedBy(issuer.certificate_, issuer.certificate_)) {
      return Damaged(files.certificate,
                     "damaged (it fails its own signature); move it away to "
                     "make it anew from the key in " +
                         files.key.string());
    }
    return issuer;
  }
  auto made = MakeIssuerCertificate(issuer.key_);
  if (!made) return made.error();
  auto written = WriteSmallFile(io, files.certificate, ToText(*made), kPublicMode, Existing::kKeep);
  if (!written) return written.error();
  issuer.certificate_ = std::move(made.value());
  return issuer;
}

Result<TestIssuer> TestIssuer::ThrowAway() {
  TestIssuer issuer;
  auto key = NewIssuerKey();
  if (!key) return key.error();
  auto certificate = MakeIssuerCertificate(*key);
  if (!certificate) return certificate.error();
  issuer.key_ = std::move(key.value());
  issuer.certificate_ = std::move(certificate.value());
  return issuer;
}

Result<std::uint32_t> TestIssuer::NextCardNumber() {
  return Take(std::nullopt);
}

Result<void> TestIssuer::Reserve(std::uint32_t number) {
  auto taken = Take(number);
  if (!taken) return taken.error();
  return {};
}

Result<std::uint32_t> TestIssuer::Take(std::optional<std::uint32_t> fixed) {
  const auto next = [&](std::uint32_t last) -> Result<std::uint32_t> {
    if (fixed) return *fixed;
    if (last == std::numeric_limits<std::uint32_t>::max()) {
      return MakeError(ErrorKind::kUnusableInput, "test issuer: every card number is given");
    }
    return last + 1;
  };
  if (folder_.empty()) {
    auto number = next(lastNumber_);
    if (number) lastNumber_ = std::max(lastNumber_, *number);
    return number;
  }
  const IssuerFiles files = FilesIn(folder_);
  auto lock = FolderLock::Take(files.lock);
  if (!lock) return lock.error();
  auto serial = ReadSmallFile(files.serial, 32);
  if (!serial) return serial.error();
  std::uint32_t last = 0;
  if (serial->presence == Presence::kPresent) {
    const auto parsed = ParseSerial(serial->contents);
    if (!parsed) {
      return Damaged(files.serial, "not a card number; write the highest number given into it");
    }
    last = *parsed;
  }
  auto number = next(last);
  if (!number) return number;
  const std::uint32_t kept = std::max(last, *number);
  if (kept != last || serial->presence == Presence::kMissing) {
    auto written = WriteSmallFile(*io_, files.serial, std::to_string(kept) + "\n", kPublicMode,
                                  Existing::kReplace);
    if (!written) return written.error();
  }
  return number;
}

Result<Bytes> TestIssuer::Certify(ByteSpan cardPublicKeyDer, const std::string& tpId,
                                  std::uint32_t tpIdNo) const {
  return MakeCardCertificate(key_, certificate_, cardPublicKeyDer, tpId, tpIdNo);
}

bool TestIssuer::Issued(ByteSpan certificateDer) const {
  return IsIssuedBy(certificateDer, certificate_);
}

}  // namespace kasse::sim
