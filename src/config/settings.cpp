#include "config/settings.h"

#include <string_view>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_util.h"

namespace mvx {
namespace {

constexpr std::string_view kServerSection = "DBServer";
constexpr std::string_view kScheduleSection = "RazuRarevi";
constexpr std::string_view kDefaultPasswordDigits = "087142203019176054231";
constexpr int kDefaultTimerInt = 1800;

std::string SlotKey(int slot) { return "BackupDB" + std::to_string(slot + 1); }

// Reads a value stored under a scrambled key name and unscrambles it to UTF-8.
class ScrambledReader {
 public:
  ScrambledReader(const ProfileFile& file, std::string_view section)
      : file_(file), section_(section) {}
  bool Has(std::string_view key) const { return file_.HasKey(section_, ScrambleValue(key)); }
  std::string Read(std::string_view key) const {
    return FromAnsi(UnscrambleValue(file_.ReadString(section_, ScrambleValue(key))));
  }
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
  if (!file.SectionExists(kServerSection)) {
    s.cfgType = "2";
    s.serverName = "(Local)";
    s.login = "quendr";
    s.password = DefaultPassword();
    s.databases = {"TremoLandix", "", "", "", "", ""};
    s.dbPath.clear();
    return;
  }
  const ScrambledReader r(file, kServerSection);
  s.cfgType = file.ReadString(kServerSection, ScrambleValue("cfgType"), "2");
  s.serverName = r.ReadOr("Name", "(Local)");
  s.login = r.ReadOr("ID", "quendr");
  s.password = r.ReadOr("Password", DefaultPassword());
  for (int slot = 0; slot < kSlotCount; ++slot) {
    s.databases[static_cast<std::size_t>(slot)] =
        r.ReadOr(SlotKey(slot), slot == 0 ? "TremoLandix" : "");
  }
  s.dbPath = r.ReadOr("DBPath", "C:\\");
}

void LoadScheduleSection(Settings& s, ProfileFile& file, bool correctFile) {
  if (!file.SectionExists(kScheduleSection)) {
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
}

bool KeyPartEligible(const std::string& slotName) {
  const std::string upper = UpperAscii(slotName);
  return StartsWith(upper, "QUENDRILAXO") || StartsWith(upper, "ZOLTMARKEN");
}

void LoadSettings(Settings& s, const std::string& iniPath, bool correctFile) {
  ProfileFile file(iniPath);
  LoadServerSection(s, file);
  LoadScheduleSection(s, file, correctFile);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto i = static_cast<std::size_t>(slot);
    s.keyPartEligible[i] = KeyPartEligible(s.databases[i]);
  }
  s.connectionDatabase = s.databases[0];
}

void WriteDbServerSection(const Settings& s, const std::string& iniPath) {
  ProfileFile file(iniPath);
  auto put = [&](std::string_view key, const std::string& value) {
    file.WriteString(kServerSection, ScrambleValue(key),
                     ScrambleValue(ToAnsi(TrimControls(value))));
  };
  file.WriteString(kServerSection, ScrambleValue("cfgType"), "1");
  put("Name", s.serverName);
  put("ID", s.login);
  put("Password", s.password);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    put(SlotKey(slot), s.databases[static_cast<std::size_t>(slot)]);
  }
  put("DBPath", s.dbPath);
}

}  // namespace mvx
