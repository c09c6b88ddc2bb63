#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mvx {

class ProfileFile;

inline constexpr int kSlotCount = 6;

// Everything read from RazuRarevi.ini at start; texts are UTF-8.
struct Settings {
  std::string serverName;
  std::string login;
  std::string password;
  std::array<std::string, kSlotCount> databases;  // BackupDB1 ... BackupDB6
  std::string dbPath;
  std::string bkPath;
  std::string fullType;
  std::array<std::string, 3> fullDays;
  std::string fullTime;
  std::string incType;
  std::array<std::string, 6> incDays;
  std::string incTime;
  int timerInt = 1800;
  std::string keyWeek;
  std::string keyTime;
  std::string save = "3";
  std::array<bool, kSlotCount> keyPartEligible{};
  // Opt-in: each backup is written with page checksums and read back by the
  // server ("Verify" = "1"); off, the statements are the historical ones.
  bool verify = false;
  // Opt-in: minutes between log backups ("LogBackup", 5 to 1440); 0 is off
  // and keeps the historical switch to SIMPLE after each full backup.
  int logBackupMinutes = 0;
  std::string connectionDatabase;  // slot 1
  std::string cfgType;             // plain; nothing depends on it
  // The "DBServer" values as the file held them (unscrambled ANSI bytes), by
  // key name: the start's rewrite keeps every byte of a value it left alone,
  // also bytes that are no valid text in the code page.
  std::map<std::string, std::string, std::less<>> rawServerValues;
};

inline constexpr std::string_view kServerSection = "DBServer";
inline constexpr std::string_view kScheduleSection = "RazuRarevi";
// The keys loading reads from each section, in reading order. A section
// counts as present only when it holds one of them.
inline constexpr std::array<std::string_view, 11> kServerKeys = {
    "cfgType",   "Name",      "ID",        "Password",  "BackupDB1", "BackupDB2",
    "BackupDB3", "BackupDB4", "BackupDB5", "BackupDB6", "DBPath"};
inline constexpr std::array<std::string_view, 18> kScheduleKeys = {
    "BKPath",   "FullType", "FullDay1", "FullDay2", "FullDay3", "FullTime",
    "IncType",  "IncBDay1", "IncBDay2", "IncBDay3", "IncBDay4", "IncBDay5",
    "IncBDay6", "IncBTime", "TimerInt", "KeyWeek",  "KeyTime",  "Save"};
// The one key stored in the schedule section that loading does not read.
inline constexpr std::string_view kLogDeletionKey = "AutoBackPgmLog";
// Opt-in keys of the schedule section. Loading reads them whatever the rest
// of the section holds, and they never make the section count as present: a
// file that only opts in keeps every schedule default.
inline constexpr std::string_view kVerifyKey = "Verify";
inline constexpr std::string_view kLogBackupKey = "LogBackup";
inline constexpr std::array<std::string_view, 2> kScheduleOptInKeys = {kVerifyKey, kLogBackupKey};
// The interval LogBackup may hold when on; any other value reads as off.
inline constexpr int kMinLogBackupMinutes = 5;
inline constexpr int kMaxLogBackupMinutes = 1440;
// Longest plain value a read takes back whole (three digits a byte in 2047).
inline constexpr std::size_t kMaxPlainValueBytes = 682;

// Resets every setting to its cleared value.
void ClearSettings(Settings& settings);

// Reads the settings file (a missing file or section gives the defaults).
// An existing file that cannot be read throws std::runtime_error("Unable to
// read <path>"): running on the default login and folder would hide it.
// The only write is the KeyWeek correction; a refused write throws
// std::runtime_error("Unable to write to <path>"). With correctFile (the
// agent's start) leftovers of an interrupted rewrite are removed first;
// false reads only (the settings tool shows what a start would load).
void LoadSettings(Settings& settings, const std::string& iniPath, bool correctFile = true);

// Whether loading takes the section's entries (it holds one of its keys)
// rather than the whole-section defaults.
bool SectionPresent(const ProfileFile& file, std::string_view section);

// A loaded setting as text, by key name (TimerInt in decimals, cfgType plain,
// Verify "0" or "1", LogBackup in minutes); empty for an unknown key.
std::string SettingText(const Settings& settings, std::string_view key);

// The minutes a LogBackup value stands for: 0 (off) unless it is a plain
// number from 5 to 1440; nullopt when it is neither empty, "0" nor such a number.
std::optional<int> LogBackupMinutes(std::string_view value);

// True when the slot name begins with one of the key-part prefixes.
bool KeyPartEligible(const std::string& slotName);

// Rewrites the "DBServer" section: cfgType plain "1", the other entries
// trimmed and scrambled, in a fixed order; a value unchanged since loading
// keeps its bytes. The agent's own write: the file keeps its modification
// time. Throws like LoadSettings.
void WriteDbServerSection(const Settings& settings, const std::string& iniPath);

}  // namespace mvx
