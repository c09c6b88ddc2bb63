#include "common/profile_file.h"

#include <filesystem>
#include <stdexcept>

#include "common/atomic_file.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return text.substr(begin, end - begin);
}

// The name of a "[section]" line, or false when the line is no header.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return false;
  const std::size_t close = line.find(']');
  name = Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
  return true;
}

bool IsComment(std::string_view line) {
  line = Trim(line);
  return !line.empty() && line.front() == ';';
}

// Key and value of an entry line; a line without '=' is a key without value.
void SplitEntry(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::size_t eq = line.find('=');
  key = Trim(line.substr(0, eq));
  value = eq == std::string_view::npos ? std::string_view() : Trim(line.substr(eq + 1));
}

// Line ends inside a value or name would break the file apart.
std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

ProfileFile::ProfileFile(std::string path, NewFileAccess access, ModifiedTime time)
    : path_(std::move(path)), access_(access), time_(time) {
  Reload();
}

void ProfileFile::Reload() {
  lines_.clear();
  std::string bytes;
  if (!ReadWholeFile(path_, bytes)) {
    std::error_code error;
    // Only a file that is certainly not there reads as empty: a folder that may not be
    // searched hides one that is.
    unreadable_ = std::filesystem::exists(path_, error) || error;
    return;
  }
  unreadable_ = false;
  std::string_view rest(bytes);
  if (rest.substr(0, kUtf8Bom.size()) == kUtf8Bom) rest.remove_prefix(kUtf8Bom.size());
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (nl == std::string_view::npos) break;
    rest.remove_prefix(nl + 1);
  }
}

int ProfileFile::FindSection(std::string_view section) const {
  const std::string_view wanted = Trim(section);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name) && EqualsNoCase(name, wanted)) return static_cast<int>(i);
  }
  return -1;
}

int ProfileFile::SectionEnd(int sectionLine) const {
  std::size_t i = static_cast<std::size_t>(sectionLine) + 1;
  std::string_view name;
  while (i < lines_.size() && !SectionName(lines_[i], name)) ++i;
  return static_cast<int>(i);
}

int ProfileFile::FindKey(int sectionLine, std::string_view key) const {
  if (sectionLine < 0) return -1;
  const std::string_view wanted = Trim(key);
  const int end = SectionEnd(sectionLine);
  for (int i = sectionLine + 1; i < end; ++i) {
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    if (Trim(line).empty() || IsComment(line)) continue;
    std::string_view k, v;
    SplitEntry(line, k, v);
    if (EqualsNoCase(k, wanted)) return i;
  }
  return -1;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const int line = FindKey(FindSection(section), key);
  if (line < 0) return std::string(defaultValue.substr(0, kMaxValueLength));
  std::string_view k, v;
  SplitEntry(lines_[static_cast<std::size_t>(line)], k, v);
  return std::string(v.substr(0, kMaxValueLength));
}

bool ProfileFile::HasKey(std::string_view section, std::string_view key) const {
  return FindKey(FindSection(section), key) >= 0;
}

bool ProfileFile::SectionExists(std::string_view section) const {
  return !SectionKeys(section).empty();
}

std::vector<std::string> ProfileFile::SectionKeys(std::string_view section,
                                                  std::size_t listBytes) const {
  std::vector<std::string> keys;
  const int header = FindSection(section);
  if (header < 0) return keys;
  std::size_t used = 1;  // the list's final terminator
  const int end = SectionEnd(header);
  for (int i = header + 1; i < end; ++i) {
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    if (Trim(line).empty() || IsComment(line)) continue;
    std::string_view k, v;
    SplitEntry(line, k, v);
    if (used + k.size() + 1 > listBytes) break;
    used += k.size() + 1;
    keys.emplace_back(k);
  }
  return keys;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  Put(section, key, value);
  Save();
}

void ProfileFile::WriteStrings(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
  for (const auto& [key, value] : entries) Put(section, key, value);
  if (!entries.empty()) Save();
}

void ProfileFile::Put(std::string_view section, std::string_view key, std::string_view value) {
  const std::string entry = OneLine(Trim(key)) + "=" + OneLine(value);
  int header = FindSection(section);
  if (header < 0) {
    lines_.push_back("[" + OneLine(Trim(section)) + "]");
    lines_.push_back(entry);
  } else if (const int line = FindKey(header, key); line >= 0) {
    lines_[static_cast<std::size_t>(line)] = entry;
  } else {
    // After the last non-blank line of the section, so blank separators stay below.
    int at = SectionEnd(header);
    while (at > header + 1 && Trim(lines_[static_cast<std::size_t>(at - 1)]).empty()) --at;
    lines_.insert(lines_.begin() + at, entry);
  }
}

void ProfileFile::DeleteKeys(std::string_view section, const std::vector<std::string>& keys) {
  bool changed = false;
  for (const std::string& key : keys) {
    const int line = FindKey(FindSection(section), key);
    if (line < 0) continue;
    lines_.erase(lines_.begin() + line);
    changed = true;
  }
  if (changed) Save();
}

void ProfileFile::Save() const {
  if (unreadable_) throw std::runtime_error("Unable to write to " + path_);
  std::string bytes;
  for (const std::string& line : lines_) {
    bytes += line;
    bytes += "\r\n";
  }
  WriteFileAtomically(path_, bytes, access_, time_);
}

}  // namespace mvx
