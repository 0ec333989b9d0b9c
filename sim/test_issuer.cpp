#include "sim/test_issuer.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <system_error>

#include "common/user_folders.h"
#include "sim/certificate_maker.h"
#include "sim/issuer_files.h"

namespace kasse::sim {
namespace {

constexpr std::size_t kFileLimit = 64 * 1024;
constexpr int kPrivateMode = 0600;
constexpr int kPublicMode = 0644;

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

// The key, made and written when there is none yet. Written before the certificate, so a
// crash in between leaves a key to certify anew, never a certificate without its key.
Result<Bytes> LoadOrMakeKey(const IssuerFiles& files, const SmallFile& certificate) {
  auto key = ReadSmallFile(files.key, kFileLimit);
  if (!key) return key.error();
  if (key->presence == Presence::kPresent) {
    std::error_code error;
    // A key left readable by others is tightened rather than refused.
    std::filesystem::permissions(
        files.key, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
    return ToBytes(key->contents);
  }
  if (certificate.presence == Presence::kPresent) {
    return Damaged(files.key, "missing beside its certificate; move " + files.certificate.string() +
                                  " away to make a new issuer (cards are certified anew "
                                  "at their next start)");
  }
  auto made = NewIssuerKey();
  if (!made) return made;
  auto written = WriteSmallFile(files.key, ToText(*made), kPrivateMode, Existing::kKeep);
  if (!written) return written.error();
  return made;
}

}  // namespace

Result<TestIssuer> TestIssuer::Open(const std::filesystem::path& folder) {
  TestIssuer issuer;
  issuer.folder_ = folder.empty() ? UserStateFolder() : folder;
  std::error_code folderError;
  std::filesystem::create_directories(issuer.folder_, folderError);
  if (folderError) {
    return MakeError(ErrorKind::kIo, "cannot make the test issuer's folder " +
                                         PathError(issuer.folder_, folderError.value()));
  }
  const IssuerFiles files = FilesIn(issuer.folder_);
  auto lock = FolderLock::Take(files.lock);
  if (!lock) return lock.error();
  auto certificate = ReadSmallFile(files.certificate, kFileLimit);
  if (!certificate) return certificate.error();
  auto key = LoadOrMakeKey(files, *certificate);
  if (!key) return key.error();
  issuer.key_ = std::move(key.value());
  if (certificate->presence == Presence::kPresent) {
    issuer.certificate_ = ToBytes(certificate->contents);
    if (!CertifiesKey(issuer.certificate_, issuer.key_)) {
      return Damaged(files.certificate, "does not belong to the key in " + files.key.string() +
                                            "; move both away to make a new issuer");
    }
    return issuer;
  }
  auto made = MakeIssuerCertificate(issuer.key_);
  if (!made) return made.error();
  auto written = WriteSmallFile(files.certificate, ToText(*made), kPublicMode, Existing::kKeep);
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
    auto written =
        WriteSmallFile(files.serial, std::to_string(kept) + "\n", kPublicMode, Existing::kReplace);
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
