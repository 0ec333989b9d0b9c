#pragma once
// A journal file read element by element without holding the whole file: the audit's memory
// stays the size of one read chunk plus the longest element, however long the journal grows.
// The elements are the same ScanJournal finds; the stream ends where ScanJournal stops.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "journal/journal_scan.h"

namespace kasse {

// One record or parameter block, owning its text.
struct JournalElement {
  std::string name, body;
  std::size_t offset = 0;
  bool complete = true;  // false: the file ends inside it
  ScannedRecord View() const { return {name, body, offset, complete}; }
};

class JournalStream {
 public:
  // A regular file; anything else (a FIFO, a folder) is refused before it is opened.
  static Result<JournalStream> OpenFile(const std::filesystem::path& path);
  // A text the caller keeps alive while the stream is read.
  static JournalStream OfText(std::string_view text);

  JournalStream(JournalStream&& other) noexcept;
  JournalStream& operator=(JournalStream&& other) noexcept;
  JournalStream(const JournalStream&) = delete;
  JournalStream& operator=(const JournalStream&) = delete;
  ~JournalStream();

  enum class Start {
    kJournal,  // the journal header
    kEmpty,    // nothing, or only the beginning of the header: made, never written
    kForeign,  // something else
  };
  // Reads the header; call once before Next.
  Start Begin();
  // The next element, nothing at the end of what can be read.
  std::optional<JournalElement> Next();

  // Once Next gave nothing: how the text ended.
  bool Closed() const { return closed_; }
  std::size_t JunkAt() const { return junkAt_; }             // 0: none
  std::size_t Size() const { return base_ + data_.size(); }  // bytes read so far
  const std::string& Problem() const { return problem_; }    // a read error or an overlong element

  // An element longer than this is not read (no journal record comes near it).
  static constexpr std::size_t kLongestElement = 16u << 20;

 private:
  JournalStream() = default;
  // Reads more into the buffer; false at the end of the file or on an error.
  bool Fill();
  std::string_view Rest() const { return data_.substr(at_); }

  int fd_ = -1;
  std::string buffer_;     // what was read of a file
  std::string_view data_;  // buffer_, or the caller's text
  std::size_t base_ = 0;   // file offset of data_[0]
  std::size_t at_ = 0;     // next unread byte in data_
  bool ended_ = false;     // nothing more to read
  bool closed_ = false;
  std::size_t junkAt_ = 0;
  std::string problem_;
};

}  // namespace kasse
