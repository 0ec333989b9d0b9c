#pragma once
// Folders for tests. Everything a test process writes lies in one folder of its own, made
// with mkdtemp on first use, so two test runs on one machine (two checkouts, two presets)
// never meet at a fixed name. It is removed after the last test unless a test failed, when
// its path is printed so the files can be looked at.

#include <filesystem>
#include <string>
#include <string_view>

namespace kasse::testing {

// The folder of this test process.
const std::filesystem::path& RunFolder();

// Suite and name of the running test, fit for a file name ("Suite_Name").
std::string CurrentTestName();

// An empty folder in the run folder, named `name` or else after the running test; whatever
// lay there before is gone.
std::filesystem::path FreshFolder(std::string_view name = {});

// A new empty folder in the run folder at every call, named `prefix` and a unique suffix.
std::filesystem::path NewFolder(std::string_view prefix = "folder");

// A fresh copy of the shipped register home, named as FreshFolder names. The card of the
// test lives in the home's own state folder (XDG_STATE_HOME), never in the user's.
std::filesystem::path FreshHome(std::string_view name = {});

// A new folder in the run folder, removed with the object.
class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix = "temp");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Writes `contents` to the relative path, creating its folders.
  std::filesystem::path Write(const std::filesystem::path& relative,
                              const std::string& contents) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kasse::testing
