#include "config/settings.h"

#include <stdexcept>
#include <string_view>

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kDefaultPasswordDigits = "087142203019176054231";
constexpr int kDefaultTimerInt = 1800;

std::string SlotKey(int slot) { return "BackupDB" + std::to_string(slot + 1); }

// Reads a value stored under a scrambled key name and unscrambles it to UTF-8.
class ScrambledReader {
 public:
  ScrambledReader(const ProfileFile& file, std::string_view section)
      : file_(file), section_(section) {}
  bool Has(std::string_view key) const { return file_.HasKey(section_, ScrambleValue(key)); }
  std::string ReadRaw(std::string_view key) const {
    return UnscrambleValue(file_.ReadString(section_, ScrambleValue(key)));
  }
  std::string Read(std::string_view key) const { return FromAnsi(ReadRaw(key)); }
  std::string ReadOr(std::string_view key, std::string_view fallback) const {
    std::string value = Read(key);
    return value.empty() ? std::string(fallback) : value;
  }

 private:
  const ProfileFile& file_;
  std::string_view section_;
};

std::string DefaultPassword() { return ScrambleValue(kDefaultPasswordDigits); }

void LoadServerSection(Settings& s, const ProfileFile& file) {
  s.rawServerValues.clear();
  if (!SectionPresent(file, kServerSection)) {
    s.cfgType = "2";
    s.serverName = "(Local)";
    s.login = "quendr";
    s.password = DefaultPassword();
    s.databases = {"TremoLandix", "", "", "", "", ""};
    s.dbPath.clear();
    return;
  }
  const ScrambledReader r(file, kServerSection);
  auto read = [&](std::string_view key, std::string_view fallback) {
    std::string raw = r.ReadRaw(key);
    if (raw.empty()) return std::string(fallback);
    std::string value = FromAnsi(raw);
    s.rawServerValues[std::string(key)] = std::move(raw);
    return value;
  };
  s.cfgType = file.ReadString(kServerSection, ScrambleValue("cfgType"), "2");
  s.serverName = read("Name", "(Local)");
  s.login = read("ID", "quendr");
  s.password = read("Password", DefaultPassword());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    s.databases[static_cast<std::size_t>(slot)] =
        read(SlotKey(slot), slot == 0 ? "TremoLandix" : "");
  }
  s.dbPath = read("DBPath", "C:\\");
}

void LoadScheduleSection(Settings& s, ProfileFile& file, bool correctFile) {
  s.verify = ScrambledReader(file, kScheduleSection).Read(kVerifyKey) == "1";
  // A value the settings tool would refuse leaves log backups off: the
  // historical full pass is the safe reading of a hand-edited file.
  s.logBackupMinutes =
      LogBackupMinutes(ScrambledReader(file, kScheduleSection).Read(kLogBackupKey)).value_or(0);
  if (!SectionPresent(file, kScheduleSection)) {
    s.bkPath = "D:\\Data_Backup";
    s.fullType = "2";
    s.fullDays = {"금", "", ""};
    s.fullTime = "17:00";
    s.incType = "2";
    s.incDays = {"월", "화", "수", "목", "토", "일"};
    s.incTime = "17:00";
    s.timerInt = kDefaultTimerInt;
    s.keyWeek = "화";
    s.keyTime = "01:00";
    s.save = "4";
    return;
  }
  const ScrambledReader r(file, kScheduleSection);
  s.bkPath = r.Read("BKPath");
  s.fullType = r.Read("FullType");
  for (std::size_t i = 0; i < s.fullDays.size(); ++i) {
    s.fullDays[i] = r.Read("FullDay" + std::to_string(i + 1));
  }
  s.fullTime = r.Read("FullTime");
  s.incType = r.Read("IncType");
  for (std::size_t i = 0; i < s.incDays.size(); ++i) {
    s.incDays[i] = r.Read("IncBDay" + std::to_string(i + 1));
  }
  s.incTime = r.Read("IncBTime");
  if (!ParseInt(r.Read("TimerInt"), s.timerInt)) s.timerInt = kDefaultTimerInt;

  s.keyWeek = r.Read("KeyWeek");
  if (s.keyWeek == "일") {
    // Sunday is not allowed for the key-part run; the file is corrected.
    s.keyWeek = "화";
    if (correctFile) {
      file.WriteString(kScheduleSection, ScrambleValue("KeyWeek"), ScrambleValue(ToAnsi("화")));
    }
  } else if (s.keyWeek.empty()) {
    s.keyWeek = "화";
  }
  s.keyTime = r.ReadOr("KeyTime", "01:00");
  s.save = r.Has("Save") ? r.Read("Save") : "3";
}

}  // namespace

void ClearSettings(Settings& s) {
  s.serverName.clear();
  s.login.clear();
  s.password.clear();
  for (auto& slot : s.databases) slot.clear();
  s.dbPath.clear();
  s.bkPath.clear();
  s.fullType.clear();
  for (auto& day : s.fullDays) day.clear();
  s.fullTime.clear();
  s.incType.clear();
  for (auto& day : s.incDays) day.clear();
  s.incTime.clear();
  s.keyWeek.clear();
  s.keyTime.clear();
  s.timerInt = kDefaultTimerInt;
  s.save = "3";
  s.keyPartEligible.fill(false);
  s.verify = false;
  s.logBackupMinutes = 0;
  s.rawServerValues.clear();
}

bool SectionPresent(const ProfileFile& file, std::string_view section) {
  auto holdsAny = [&](const auto& keys) {
    for (std::string_view key : keys) {
      if (file.HasKey(section, ScrambleValue(key))) return true;
    }
    return false;
  };
  if (EqualsNoCase(section, kServerSection)) return holdsAny(kServerKeys);
  if (EqualsNoCase(section, kScheduleSection)) return holdsAny(kScheduleKeys);
  return file.SectionExists(section);
}

std::string SettingText(const Settings& s, std::string_view key) {
  auto numbered = [&](std::string_view prefix, const auto& values) -> const std::string* {
    if (key.size() != prefix.size() + 1 || key.substr(0, prefix.size()) != prefix) return nullptr;
    const std::size_t index = static_cast<std::size_t>(key.back() - '1');
    return index < values.size() ? &values[index] : nullptr;
  };
  if (key == "cfgType") return s.cfgType;
  if (key == "Name") return s.serverName;
  if (key == "ID") return s.login;
  if (key == "Password") return s.password;
  if (key == "DBPath") return s.dbPath;
  if (key == "BKPath") return s.bkPath;
  if (key == "FullType") return s.fullType;
  if (key == "FullTime") return s.fullTime;
  if (key == "IncType") return s.incType;
  if (key == "IncBTime") return s.incTime;
  if (key == "TimerInt") return std::to_string(s.timerInt);
  if (key == "KeyWeek") return s.keyWeek;
  if (key == "KeyTime") return s.keyTime;
  if (key == "Save") return s.save;
  if (key == kVerifyKey) return s.verify ? "1" : "0";
  if (key == kLogBackupKey) return std::to_string(s.logBackupMinutes);
  for (const std::string* value :
       {numbered("BackupDB", s.databases), numbered("FullDay", s.fullDays),
        numbered("IncBDay", s.incDays)}) {
    if (value != nullptr) return *value;
  }
  return {};
}

std::optional<int> LogBackupMinutes(std::string_view value) {
  if (value.empty() || value == "0") return 0;
  if (value.size() > 4 || value.front() == '0') return std::nullopt;
  int minutes = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    minutes = minutes * 10 + (c - '0');
  }
  if (minutes < kMinLogBackupMinutes || minutes > kMaxLogBackupMinutes) return std::nullopt;
  return minutes;
}

bool KeyPartEligible(const std::string& slotName) {
  const std::string upper = UpperAscii(slotName);
  return StartsWith(upper, "QUENDRILAXO") || StartsWith(upper, "ZOLTMARKEN");
}

void LoadSettings(Settings& s, const std::string& iniPath, bool correctFile) {
  // The file holds the login: a file the agent creates is its owner's alone. Its correction
  // keeps the file's time: that time tells an operator's change, which this is not.
  if (correctFile) RemoveLeftoverTemporaries(iniPath);
  ProfileFile file(iniPath, NewFileAccess::OwnerOnly, ModifiedTime::KeepPrevious);
  if (file.unreadable()) throw std::runtime_error("Unable to read " + iniPath);
  LoadServerSection(s, file);
  LoadScheduleSection(s, file, correctFile);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto i = static_cast<std::size_t>(slot);
    s.keyPartEligible[i] = KeyPartEligible(s.databases[i]);
  }
  s.connectionDatabase = s.databases[0];
}

void WriteDbServerSection(const Settings& s, const std::string& iniPath) {
  ProfileFile file(iniPath, NewFileAccess::OwnerOnly, ModifiedTime::KeepPrevious);
  std::vector<std::pair<std::string, std::string>> entries;
  entries.emplace_back(ScrambleValue("cfgType"), "1");
  auto put = [&](std::string_view key, const std::string& value) {
    // Trimming bytes up to the blank is the same on the ANSI bytes as on the
    // text: no byte of a CP949 character is that low.
    const auto raw = s.rawServerValues.find(key);
    const std::string bytes = raw != s.rawServerValues.end() && FromAnsi(raw->second) == value
                                  ? raw->second
                                  : ToAnsi(value);
    entries.emplace_back(ScrambleValue(key), ScrambleValue(TrimControls(bytes)));
  };
  put("Name", s.serverName);
  put("ID", s.login);
  put("Password", s.password);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    put(SlotKey(slot), s.databases[static_cast<std::size_t>(slot)]);
  }
  put("DBPath", s.dbPath);
  file.WriteStrings(kServerSection, entries);
}

}  // namespace mvx
