#include "verify/certificate_index.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <map>

#include "common/base_n.h"
#include "common/files.h"
#include "verify/journal_audit.h"
#include "verify/trust_store.h"

namespace kasse {
namespace {

enum class Role { kJournal, kCard, kIssuer };

struct FileStamp {
  std::filesystem::path path;
  Role role = Role::kCard;
  std::int64_t modified = 0, size = -1;  // size -1: could not be read
  bool operator==(const FileStamp&) const = default;
};

struct Found {
  std::optional<std::pair<std::string, std::uint64_t>> card;  // named by a parameter block
  Bytes der;
};

// What one file gave: the certificates in it, or why it could not be read.
struct Contribution {
  FileStamp stamp;
  std::vector<Found> found;
  std::string problem;
};

FileStamp Stamp(const std::filesystem::path& path, Role role) {
  FileStamp stamp{path, role};
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    stamp.modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.size = status.st_size;
  }
  return stamp;
}

void AddFolder(const std::filesystem::path& folder, Role role, std::vector<FileStamp>& stamps) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) files.push_back(entry.path());
  }
  if (error) stamps.push_back({folder, role});  // unreadable: its stamp says so
  std::sort(files.begin(), files.end());
  for (const auto& file : files)
    stamps.push_back(Stamp(file, role));
}

std::vector<FileStamp> StampsOf(const CertificateSources& sources) {
  std::vector<FileStamp> stamps;
  if (!sources.home.empty()) {
    for (const auto& pair : JournalPairs(sources.home))
      stamps.push_back(Stamp(pair.first, Role::kJournal));
  }
  for (const auto& file : sources.cardFiles)
    stamps.push_back(Stamp(file, Role::kCard));
  for (const auto& folder : sources.cardFolders)
    AddFolder(folder, Role::kCard, stamps);
  for (const auto& file : sources.trustFiles)
    stamps.push_back(Stamp(file, Role::kIssuer));
  for (const auto& folder : sources.trustFolders)
    AddFolder(folder, Role::kIssuer, stamps);
  if (!sources.userIssuer.empty()) {
    FileStamp issuer = Stamp(sources.userIssuer, Role::kIssuer);
    if (issuer.size >= 0) stamps.push_back(std::move(issuer));
  }
  return stamps;
}

Contribution Read(const FileStamp& stamp) {
  Contribution contribution{stamp, {}, {}};
  if (stamp.size < 0) {  // missing, or a FIFO or device that would never end
    contribution.problem = stamp.path.string() + ": not a regular file";
    return contribution;
  }
  auto text = ReadFile(stamp.path);
  if (!text) {
    contribution.problem = text.error().English();
    return contribution;
  }
  if (stamp.role == Role::kJournal) {
    for (const QorParams& params : ParamsOfJournal(*text)) {
      std::uint64_t number = 0;
      const auto* end = params.tpIdNo.data() + params.tpIdNo.size();
      if (std::from_chars(params.tpIdNo.data(), end, number).ptr != end) continue;
      auto der = Base64Decode(params.certificate);
      if (der) contribution.found.push_back({std::make_pair(params.tpId, number), *der});
    }
    return contribution;
  }
  auto certificates = CertificatesOfFile(*text);
  if (!certificates) {
    contribution.problem = stamp.path.string() + ": " + certificates.error().English();
    return contribution;
  }
  for (Bytes& der : *certificates)
    contribution.found.push_back({std::nullopt, std::move(der)});
  return contribution;
}

using CardKey = std::pair<std::string, std::uint64_t>;

std::optional<CardKey> KeyOfSubject(const ParsedCertificate& certificate) {
  return certificate.NamedCard();
}

}  // namespace

struct CertificateIndex::Snapshot {
  std::vector<Contribution> files;
  std::map<CardKey, std::vector<IndexedCertificate>> byCard;
  std::vector<std::string> problems;
  std::size_t issuers = 0, certificates = 0;
  std::shared_ptr<const TrustStore> trust;
};

namespace {

// Certificates already read, by their DER text.
using SeenCertificates = std::map<std::string, IndexedCertificate, std::less<>>;

void AddCertificate(CertificateIndex::Snapshot& snapshot, SeenCertificates& seen,
                    const TrustStore& trust, const Found& found, const std::string& source) {
  const std::string der = ToText(found.der);
  auto known = seen.find(der);
  if (known == seen.end()) {
    auto parsed = ParsedCertificate::FromDer(found.der);
    if (!parsed) {
      snapshot.problems.push_back(source + ": " + parsed.error().English());
      return;
    }
    known =
        seen.emplace(der, IndexedCertificate{*parsed, source, trust.ChainProblem(**parsed)}).first;
    ++snapshot.certificates;
  }
  const IndexedCertificate& entry = known->second;
  // A journal's parameter block says whose certificate it holds (the verdict then checks that
  // the certificate agrees); a file's certificate is filed under the card its subject names.
  const auto key = found.card ? found.card : KeyOfSubject(*entry.certificate);
  if (!key) {
    snapshot.problems.push_back(source + ": the certificate " + entry.certificate->Subject() +
                                " names no card (CN and a numeric serialNumber); not used");
    return;
  }
  auto& list = snapshot.byCard[*key];
  for (const IndexedCertificate& listed : list)
    if (listed.certificate == entry.certificate) return;
  list.push_back(entry);
}

std::shared_ptr<const CertificateIndex::Snapshot> Build(const CertificateSources& sources,
                                                        std::vector<FileStamp> stamps,
                                                        const CertificateIndex::Snapshot* old) {
  auto snapshot = std::make_shared<CertificateIndex::Snapshot>();
  for (FileStamp& stamp : stamps) {
    const Contribution* kept = nullptr;
    if (old != nullptr) {
      for (const Contribution& before : old->files)
        if (before.stamp == stamp) kept = &before;
    }
    snapshot->files.push_back(kept ? *kept : Read(stamp));
  }
  auto trustStore = std::make_shared<TrustStore>();
  TrustStore& trust = *trustStore;
  snapshot->trust = trustStore;
  for (const Bytes& der : sources.trusted)
    if (auto added = trust.Add(der); !added) snapshot->problems.push_back(added.error().English());
  for (const Contribution& file : snapshot->files) {
    if (!file.problem.empty()) snapshot->problems.push_back(file.problem);
    if (file.stamp.role != Role::kIssuer) continue;
    for (const Found& found : file.found)
      if (auto added = trust.Add(found.der); !added)
        snapshot->problems.push_back(file.stamp.path.string() + ": " + added.error().English());
  }
  snapshot->issuers = trust.Size();
  SeenCertificates seen;
  for (const Bytes& der : sources.cards)
    AddCertificate(*snapshot, seen, trust, {std::nullopt, der}, "given certificate");
  for (const Contribution& file : snapshot->files) {
    if (file.stamp.role == Role::kIssuer) continue;
    for (const Found& found : file.found)
      AddCertificate(*snapshot, seen, trust, found, file.stamp.path.string());
  }
  return snapshot;
}

}  // namespace

CertificateIndex::CertificateIndex(CertificateSources sources) : sources_(std::move(sources)) {
  snapshot_ = Build(sources_, StampsOf(sources_), nullptr);
  lastCheck_ = std::chrono::steady_clock::now();
}

CertificateIndex::~CertificateIndex() = default;

void CertificateIndex::Refresh(std::chrono::steady_clock::duration interval) {
  std::unique_lock<std::mutex> one(refreshing_, std::try_to_lock);
  if (!one.owns_lock()) return;  // another thread is reading the sources right now
  const auto now = std::chrono::steady_clock::now();
  std::shared_ptr<const Snapshot> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - lastCheck_ < interval) return;
    lastCheck_ = now;
    old = snapshot_;
  }
  std::vector<FileStamp> stamps = StampsOf(sources_);
  bool same = stamps.size() == old->files.size();
  for (std::size_t i = 0; same && i < stamps.size(); ++i)
    same = stamps[i] == old->files[i].stamp;
  if (same) return;
  auto fresh = Build(sources_, std::move(stamps), old.get());
  std::lock_guard<std::mutex> lock(mutex_);
  snapshot_ = std::move(fresh);
}

std::shared_ptr<const CertificateIndex::Snapshot> CertificateIndex::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

std::vector<IndexedCertificate> CertificateIndex::Find(std::string_view tpId,
                                                       std::uint64_t tpIdNo) const {
  const auto snapshot = Current();
  std::vector<IndexedCertificate> found;
  const auto add = [&](const std::vector<IndexedCertificate>& list) {
    for (const IndexedCertificate& entry : list) {
      const bool listed = std::any_of(found.begin(), found.end(), [&](const auto& f) {
        return f.certificate == entry.certificate;
      });
      if (!listed) found.push_back(entry);
    }
  };
  if (auto it = snapshot->byCard.find({std::string(tpId), tpIdNo}); it != snapshot->byCard.end())
    add(it->second);
  // A subject carries the name as UTF-8 or as the card's own bytes.
  for (const auto& [key, list] : snapshot->byCard) {
    if (key.second != tpIdNo || key.first == tpId) continue;
    for (const IndexedCertificate& entry : list)
      if (entry.certificate->NamesCard(tpId, tpIdNo)) add({entry});
  }
  return found;
}

std::vector<std::string> CertificateIndex::Problems() const {
  return Current()->problems;
}

std::shared_ptr<const TrustStore> CertificateIndex::Trust() const {
  return Current()->trust;
}

std::size_t CertificateIndex::IssuerCount() const {
  return Current()->issuers;
}

std::size_t CertificateIndex::CertificateCount() const {
  return Current()->certificates;
}

std::string CertificateIndex::Where() const {
  std::vector<std::string> places;
  if (!sources_.home.empty()) places.push_back("the journals under " + sources_.home.string());
  for (const auto& folder : sources_.cardFolders)
    places.push_back("the folder " + folder.string());
  const std::size_t files = sources_.cardFiles.size() + sources_.cards.size();
  if (files != 0) places.push_back(std::to_string(files) + " certificate file(s)");
  if (places.empty()) return "nowhere (no home, no certificate given)";
  std::string text;
  for (std::size_t i = 0; i < places.size(); ++i)
    text += (i == 0 ? "" : i + 1 == places.size() ? " and " : ", ") + places[i];
  return text;
}

}  // namespace kasse
