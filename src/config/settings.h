#pragma once

#include <array>
#include <string>

namespace mvx {

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
  std::string connectionDatabase;  // slot 1
  std::string cfgType;             // plain; nothing depends on it
};

// Resets every setting to its cleared value.
void ClearSettings(Settings& settings);

// Reads the settings file (a missing file or section gives the defaults).
// The only write is the KeyWeek correction; a refused write throws
// std::runtime_error("Unable to write to <path>").
// correctFile false reads only (the settings tool shows what a start would load).
void LoadSettings(Settings& settings, const std::string& iniPath, bool correctFile = true);

// True when the slot name begins with one of the key-part prefixes.
bool KeyPartEligible(const std::string& slotName);

// Rewrites the "DBServer" section: cfgType plain "1", the other entries
// trimmed and scrambled, in a fixed order. Throws like LoadSettings.
void WriteDbServerSection(const Settings& settings, const std::string& iniPath);

}  // namespace mvx
