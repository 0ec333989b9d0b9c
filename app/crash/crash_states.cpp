#include "app/crash/crash_states.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "common/files.h"

namespace kasse::crash {
namespace {

using Path = std::filesystem::path;

Path FolderOf(const Path& path) {
  return path.has_parent_path() ? path.parent_path() : Path(".");
}

void Apply(std::string& contents, const DiskOp& op, std::size_t keepBytes) {
  if (op.kind == DiskOp::Kind::kTruncate) {
    contents.resize(static_cast<std::size_t>(op.size), '\0');
    return;
  }
  const std::size_t length = std::min(keepBytes, op.data.size());
  const auto offset = static_cast<std::size_t>(op.offset);
  if (contents.size() < offset + length) contents.resize(offset + length, '\0');
  contents.replace(offset, length, op.data, 0, length);
}

// The run replayed up to a cut: what is on the disk and what is only in the page cache.
struct Replay {
  std::map<Path, std::uint64_t> durableNames, names;
  std::set<Path> durableFolders, folders;
  std::set<Path> foldersWithPending;  // folders whose entries changed since their last sync
  std::map<std::uint64_t, std::string> durable;
  std::map<std::uint64_t, std::vector<DiskOp>> pending;

  void Run(const DiskOp& op) {
    switch (op.kind) {
      case DiskOp::Kind::kCreate:
        names[op.path] = op.file;
        durable[op.file];
        foldersWithPending.insert(FolderOf(op.path));
        break;
      case DiskOp::Kind::kWrite:
      case DiskOp::Kind::kTruncate:
        pending[op.file].push_back(op);
        break;
      case DiskOp::Kind::kSync:
        for (const DiskOp& write : pending[op.file])
          Apply(durable[op.file], write, write.data.size());
        pending.erase(op.file);
        break;
      case DiskOp::Kind::kRename:
      case DiskOp::Kind::kLink:
        if (const auto it = names.find(op.path); it != names.end()) {
          names[op.to] = it->second;
          if (op.kind == DiskOp::Kind::kRename) names.erase(op.path);
        }
        foldersWithPending.insert(FolderOf(op.path));
        foldersWithPending.insert(FolderOf(op.to));
        break;
      case DiskOp::Kind::kUnlink:
        names.erase(op.path);
        foldersWithPending.insert(FolderOf(op.path));
        break;
      case DiskOp::Kind::kMakeFolder:
        folders.insert(op.path);
        foldersWithPending.insert(FolderOf(op.path));
        break;
      case DiskOp::Kind::kSyncFolder:
        SyncFolder(op.path);
        break;
    }
  }

  void SyncFolder(const Path& folder) {
    std::erase_if(durableNames, [&](const auto& entry) { return FolderOf(entry.first) == folder; });
    for (const auto& [path, file] : names)
      if (FolderOf(path) == folder) durableNames[path] = file;
    std::erase_if(durableFolders, [&](const Path& path) { return FolderOf(path) == folder; });
    for (const Path& path : folders)
      if (FolderOf(path) == folder) durableFolders.insert(path);
    foldersWithPending.erase(folder);
  }
};

// One file's contents after the cut: its unsynced calls dropped, kept, or torn.
std::string Contents(const Replay& replay, std::uint64_t file, std::mt19937_64& random) {
  std::string contents = replay.durable.count(file) ? replay.durable.at(file) : std::string();
  const auto pending = replay.pending.find(file);
  if (pending == replay.pending.end()) return contents;
  const std::vector<DiskOp>& calls = pending->second;
  switch (random() % 3) {
    case 0:  // dropped
      return contents;
    case 1:  // kept
      for (const DiskOp& call : calls)
        Apply(contents, call, call.data.size());
      return contents;
    default: {  // torn inside one call, the ones before it whole
      const std::size_t torn = random() % calls.size();
      for (std::size_t i = 0; i < torn; ++i)
        Apply(contents, calls[i], calls[i].data.size());
      const DiskOp& call = calls[torn];
      if (call.kind == DiskOp::Kind::kWrite)
        Apply(contents, call, call.data.empty() ? 0 : random() % (call.data.size() + 1));
      else if (random() % 2 == 0)
        Apply(contents, call, 0);
      return contents;
    }
  }
}

}  // namespace

CrashModel::CrashModel(DiskImage initial, std::vector<DiskOp> ops)
    : initial_(std::move(initial)), ops_(std::move(ops)) {}

std::vector<std::size_t> CrashModel::SyncPoints() const {
  std::vector<std::size_t> points;
  for (std::size_t i = 0; i < ops_.size(); ++i)
    if (ops_[i].kind == DiskOp::Kind::kSync || ops_[i].kind == DiskOp::Kind::kSyncFolder)
      points.push_back(i + 1);
  return points;
}

namespace {

Replay ReplayTo(const DiskImage& initial, const std::vector<DiskOp>& ops, std::size_t cut) {
  Replay replay;
  std::uint64_t file = 1;
  for (const auto& [path, contents] : initial.files) {
    replay.names[path] = replay.durableNames[path] = file;
    replay.durable[file++] = contents;
  }
  for (const Path& folder : initial.folders) {
    replay.folders.insert(folder);
    replay.durableFolders.insert(folder);
  }
  for (std::size_t i = 0; i < cut && i < ops.size(); ++i)
    replay.Run(ops[i]);
  return replay;
}

}  // namespace

DiskImage CrashModel::KeptStateAt(std::size_t cut) const {
  const Replay replay = ReplayTo(initial_, ops_, cut);
  DiskImage image;
  image.folders.assign(replay.folders.begin(), replay.folders.end());
  for (const auto& [path, id] : replay.names) {
    std::string contents = replay.durable.count(id) ? replay.durable.at(id) : std::string();
    if (const auto pending = replay.pending.find(id); pending != replay.pending.end())
      for (const DiskOp& call : pending->second)
        Apply(contents, call, call.data.size());
    image.files[path] = std::move(contents);
  }
  return image;
}

DiskImage CrashModel::StateAt(std::size_t cut, std::mt19937_64& random) const {
  const Replay replay = ReplayTo(initial_, ops_, cut);

  // Folder by folder: the entries as last synced, or now and then all of them as they stand.
  std::map<Path, std::uint64_t> names;
  std::set<Path> folders;
  const auto chosen = [&](const Path& folder) {
    return replay.foldersWithPending.count(folder) != 0 && random() % 4 == 0;
  };
  std::map<Path, bool> keepFolder;
  for (const Path& folder : replay.foldersWithPending)
    keepFolder[folder] = chosen(folder);
  const auto kept = [&](const Path& folder) {
    const auto it = keepFolder.find(folder);
    return it != keepFolder.end() && it->second;
  };
  for (const auto& [path, id] : replay.durableNames)
    if (!kept(FolderOf(path))) names[path] = id;
  for (const auto& [path, id] : replay.names)
    if (kept(FolderOf(path))) names[path] = id;
  for (const Path& folder : replay.durableFolders)
    if (!kept(FolderOf(folder))) folders.insert(folder);
  for (const Path& folder : replay.folders)
    if (kept(FolderOf(folder))) folders.insert(folder);

  DiskImage image;
  const auto present = [&](const Path& folder) {
    for (Path at = folder; at != "." && !at.empty(); at = FolderOf(at))
      if (folders.count(at) == 0) return false;
    return true;
  };
  for (const Path& folder : folders)
    if (present(folder)) image.folders.push_back(folder);
  std::map<std::uint64_t, std::string> contents;
  for (const auto& [path, id] : names) {
    if (!present(FolderOf(path))) continue;
    if (!contents.count(id)) contents[id] = Contents(replay, id, random);
    image.files[path] = contents[id];
  }
  return image;
}

CrashModel::Numbers CrashModel::DurableCardNumbers(std::size_t cut,
                                                   const std::string& cardFile) const {
  static const std::regex kSeq("(^|\n)seq ([0-9]+) ([0-9]+)\n");
  Numbers numbers;
  std::map<std::uint64_t, Path> nameOf;
  std::map<std::uint64_t, std::vector<const DiskOp*>> pending;
  for (std::size_t i = 0; i < cut && i < ops_.size(); ++i) {
    const DiskOp& op = ops_[i];
    if (op.kind == DiskOp::Kind::kCreate) nameOf[op.file] = op.path;
    if (op.kind == DiskOp::Kind::kWrite) pending[op.file].push_back(&op);
    if (op.kind != DiskOp::Kind::kSync) continue;
    const bool card = nameOf[op.file].filename().string().find(cardFile) != std::string::npos;
    for (const DiskOp* write : pending[op.file]) {
      if (!card) break;
      for (auto it = std::sregex_iterator(write->data.begin(), write->data.end(), kSeq);
           it != std::sregex_iterator(); ++it) {
        numbers.transaction = std::max<std::uint64_t>(numbers.transaction, std::stoull((*it)[2]));
        numbers.report = std::max<std::uint64_t>(numbers.report, std::stoull((*it)[3]));
      }
    }
    pending.erase(op.file);
  }
  return numbers;
}

void Materialise(const DiskImage& image, const std::filesystem::path& root) {
  // Plain writes: a test's scratch copy needs no durability of its own.
  const auto folder = [](const Path& path) {
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  };
  folder(root);
  for (const Path& path : image.folders)
    folder(root / path);
  for (const auto& [path, contents] : image.files) {
    folder((root / path).parent_path());
    std::ofstream out(root / path, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    std::filesystem::permissions(
        root / path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

}  // namespace kasse::crash
