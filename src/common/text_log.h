#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "common/clock.h"

namespace mvx {

// RazuRarevi.Log, the small profile-file log beside the executable, and its
// housekeeping. The settings file holds the date of the last deletion. A
// stop that gives up may write while a tick still does: the file is taken by
// one writer at a time.
class TextLog {
 public:
  TextLog(std::string exeDir, const Clock& clock);

  // Appends one entry unless the message repeats the last one written.
  // A refused write throws std::runtime_error("Unable to write to <path>").
  void WriteFileLog(std::string_view message);
  // Removes entries older than 14 days, at most once per calendar day.
  void ClearOldLogEntries(std::string_view today);
  // Deletes the whole log when its recorded deletion date is more than 30 days back.
  // Never throws.
  void ResetLogFileByAge() noexcept;

  const std::string& LastFileLogText() const { return lastFileLogText_; }
  void ClearLastFileLogText() { lastFileLogText_.clear(); }

  std::string LogPath() const;
  std::string SettingsPath() const;

  // Called with every message that reaches the file (console echo).
  void SetEcho(std::function<void(std::string_view)> echo) { echo_ = std::move(echo); }

 private:
  std::string exeDir_;
  const Clock& clock_;
  std::mutex mutex_;
  std::string lastFileLogText_;
  std::function<void(std::string_view)> echo_;
};

}  // namespace mvx
