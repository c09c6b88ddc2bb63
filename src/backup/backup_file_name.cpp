#include "backup/backup_file_name.h"

#include <cstdio>

#include "common/clock.h"
#include "common/date_text.h"
#include "common/text_util.h"

namespace mvx {

std::string BackupFileName(std::string_view folder, std::string_view database,
                           std::string_view today, std::string_view extension) {
  std::string name(folder);
  name += '\\';
  name += database;
  name += '(';
  name += DateStamp(today);
  name += ')';
  name += extension;
  return name;
}

int BackupExtensionIndex(std::string_view fileName) {
  // Asked for every name of folders of a hundred thousand files: no copies.
  constexpr std::size_t kLength = 4;
  if (fileName.size() < kLength) return -1;
  char tail[kLength];
  for (std::size_t i = 0; i < kLength; ++i) {
    const char c = fileName[fileName.size() - kLength + i];
    tail[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (std::size_t i = 0; i < kBackupExtensions.size(); ++i) {
    if (std::string_view(tail, kLength) == kBackupExtensions[i]) return static_cast<int>(i);
  }
  return -1;
}

std::optional<BackupFileNameParts> ParseBackupFileName(std::string_view fileName) {
  const int extension = BackupExtensionIndex(fileName);
  if (extension < 0) return std::nullopt;
  constexpr std::size_t kExtensionLength = kBackupExtensions[0].size();
  // "(" + stamp + ")" + extension, after a name of at least one character.
  constexpr std::size_t kSuffixLength = 1 + kBackupStampLength + 1 + kExtensionLength;
  if (fileName.size() <= kSuffixLength) return std::nullopt;
  const std::size_t open = fileName.size() - kSuffixLength;
  const std::string_view stamp = fileName.substr(open + 1, kBackupStampLength);
  if (fileName[open] != '(' || fileName[open + 1 + kBackupStampLength] != ')') return std::nullopt;
  for (char c : stamp) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return BackupFileNameParts{UpperAscii(fileName.substr(0, open)), std::string(stamp),
                             static_cast<std::size_t>(extension)};
}

std::optional<BackupFileNameParts> ParseSetAsideFileName(std::string_view fileName) {
  if (fileName.size() <= kSetAsideSuffix.size() ||
      !EqualsNoCase(fileName.substr(fileName.size() - kSetAsideSuffix.size()), kSetAsideSuffix)) {
    return std::nullopt;
  }
  return ParseBackupFileName(fileName.substr(0, fileName.size() - kSetAsideSuffix.size()));
}

std::string LogBackupFileName(std::string_view folder, std::string_view database,
                              const LocalDateTime& start) {
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02d%02d%02d", start.hour % 100, start.minute % 100,
                start.second % 100);
  std::string name(folder);
  name += '\\';
  name += database;
  name += '(';
  name += DateStamp(FormatDate(start));
  name += '-';
  name += clock;
  name += ')';
  name += kLogBackupExtension;
  return name;
}

std::optional<LogBackupFileNameParts> ParseLogBackupFileName(std::string_view fileName) {
  constexpr std::size_t kSuffixLength = 1 + kLogBackupStampLength + 1 + kLogBackupExtension.size();
  if (fileName.size() <= kSuffixLength) return std::nullopt;
  const std::size_t open = fileName.size() - kSuffixLength;
  if (fileName[open] != '(' || fileName[open + 1 + kLogBackupStampLength] != ')' ||
      !EqualsNoCase(fileName.substr(fileName.size() - kLogBackupExtension.size()),
                    kLogBackupExtension)) {
    return std::nullopt;
  }
  const std::string_view stamp = fileName.substr(open + 1, kLogBackupStampLength);
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (i == kBackupStampLength ? stamp[i] != '-' : !digit) return std::nullopt;
  }
  return LogBackupFileNameParts{UpperAscii(fileName.substr(0, open)), std::string(stamp)};
}

}  // namespace mvx
