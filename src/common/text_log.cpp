#include "common/text_log.h"

#include <exception>

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/date_text.h"
#include "common/profile_file.h"
#include "common/scramble.h"

namespace mvx {
namespace {

constexpr std::string_view kLogSection = "RazuRarevi Log";
constexpr std::string_view kClearSection = "LogClear";
constexpr std::string_view kClearKey = "Date";
constexpr std::string_view kSettingsSection = "RazuRarevi";
constexpr std::string_view kDeletionDateKey = "AutoBackPgmLog";

}  // namespace

TextLog::TextLog(std::string exeDir, const Clock& clock)
    : exeDir_(std::move(exeDir)), clock_(clock) {}

std::string TextLog::LogPath() const { return exeDir_ + "RazuRarevi.Log"; }
std::string TextLog::SettingsPath() const { return exeDir_ + "RazuRarevi.ini"; }

void TextLog::WriteFileLog(std::string_view message) {
  const std::lock_guard lock(mutex_);
  if (message == lastFileLogText_) return;
  ProfileFile log(LogPath());
  log.WriteString(kLogSection, FormatLogKey(clock_.Now()), ToAnsi(message));
  lastFileLogText_ = std::string(message);
  if (echo_) echo_(message);
}

void TextLog::ClearOldLogEntries(std::string_view today) {
  const std::lock_guard lock(mutex_);
  try {
    ProfileFile log(LogPath());
    const std::string lastClear = log.ReadString(kClearSection, kClearKey);
    if (!(lastClear < today)) return;
    const std::vector<std::string> keys = log.SectionKeys(kLogSection);
    const std::string cutOff = ShiftDateText(today, -14);
    std::vector<std::string> old;
    for (const std::string& key : keys) {
      if (key.substr(0, 10) < cutOff) old.push_back(key);
    }
    log.DeleteKeys(kLogSection, old);
    log.WriteString(kClearSection, kClearKey, today);
  } catch (const std::exception&) {
    // A log that cannot be written must not stop the backups that follow.
  }
}

void TextLog::ResetLogFileByAge() noexcept {
  const std::lock_guard lock(mutex_);
  try {
    // It holds the login; and this bookkeeping is no operator's change of the settings.
    ProfileFile settings(SettingsPath(), NewFileAccess::OwnerOnly, ModifiedTime::KeepPrevious);
    const std::string key = ScrambleValue(kDeletionDateKey);
    const std::string lastDeletion =
        FromAnsi(UnscrambleValue(settings.ReadString(kSettingsSection, key)));
    const std::string today = FormatDate(clock_.Now());
    if (!(lastDeletion < ShiftDateText(today, -30))) return;
    if (!FileExists(LogPath())) return;
    RemoveFile(LogPath());
    settings.WriteString(kSettingsSection, key, ScrambleValue(ToAnsi(today)));
  } catch (...) {
    // The next tick tries again.
  }
}

}  // namespace mvx
