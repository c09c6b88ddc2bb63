#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/atomic_file.h"

namespace mvx {

// A Windows-style profile (INI) file: "[section]" lines and "key=value" lines.
// Section and key names match without regard to ASCII case; blanks around
// keys and values are ignored on reading. Values are byte strings (the file's
// own encoding). Every change rewrites the file at once, atomically, with CRLF
// line ends; a refused write throws std::runtime_error("Unable to write to <path>").
// A file that exists but cannot be read reads as empty and refuses every write,
// so a change never replaces contents it could not see.
class ProfileFile {
 public:
  // Longest value a read keeps, as the Windows functions with a 2048-byte buffer.
  static constexpr std::size_t kMaxValueLength = 2047;
  // Size of the buffer a key list is taken in (names each followed by a zero byte).
  static constexpr std::size_t kKeyListBytes = 16384;

  // `access`: who may read the file when a write creates it; `time`: the modification time
  // every rewrite leaves.
  explicit ProfileFile(std::string path, NewFileAccess access = NewFileAccess::Everyone,
                       ModifiedTime time = ModifiedTime::Now);

  const std::string& path() const { return path_; }
  // The file exists but could not be read (permissions, a folder of that name, an I/O error).
  bool unreadable() const { return unreadable_; }

  // The value, or the default when the section or key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue = {}) const;
  bool HasKey(std::string_view section, std::string_view key) const;
  // A section counts as present when it holds at least one entry.
  bool SectionExists(std::string_view section) const;
  // Key names of a section in file order, as many as fit in listBytes
  // (each name counts its length plus one terminator, plus one final terminator).
  std::vector<std::string> SectionKeys(std::string_view section,
                                       std::size_t listBytes = kKeyListBytes) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Several entries of one section with one rewrite of the file.
  void WriteStrings(std::string_view section,
                    const std::vector<std::pair<std::string, std::string>>& entries);
  // Deletes the keys with one rewrite of the file (none when no key was there).
  void DeleteKeys(std::string_view section, const std::vector<std::string>& keys);

 private:
  void Reload();                                    // a missing file reads as empty
  int FindSection(std::string_view section) const;  // index of the header line, -1
  int FindKey(int sectionLine, std::string_view key) const;
  int SectionEnd(int sectionLine) const;  // index after the last line of the section
  void Put(std::string_view section, std::string_view key, std::string_view value);
  void Save() const;

  std::string path_;
  NewFileAccess access_;
  ModifiedTime time_;
  std::vector<std::string> lines_;
  bool unreadable_ = false;
};

}  // namespace mvx
