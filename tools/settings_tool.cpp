#include "settings_tool.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <stdexcept>

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "common/text_util.h"
#include "config/settings.h"

namespace mvx {
namespace {

constexpr const char* kUsage =
    "usage: MvxRazuSettings show [--ini PATH] [--reveal]\n"
    "       MvxRazuSettings get SECTION KEY [--ini PATH] [--reveal]\n"
    "       MvxRazuSettings set SECTION KEY VALUE [--ini PATH]\n"
    "       MvxRazuSettings scramble TEXT\n"
    "       MvxRazuSettings unscramble DIGITS\n";

constexpr std::string_view kMasked = "********";

// The value of "cfgType" is stored plain; every other value is scrambled.
bool IsPlainValueKey(std::string_view key) { return key == "cfgType"; }

// The keys the agent reads from a section (names are exact: they are stored
// scrambled, so "BackupDb2" is another key than "BackupDB2").
std::vector<std::string_view> KnownKeys(std::string_view section) {
  if (section == kServerSection) return {kServerKeys.begin(), kServerKeys.end()};
  if (section == kScheduleSection) {
    std::vector<std::string_view> keys(kScheduleKeys.begin(), kScheduleKeys.end());
    keys.insert(keys.end(), kScheduleOptInKeys.begin(), kScheduleOptInKeys.end());
    keys.push_back(kLogDeletionKey);
    return keys;
  }
  return {};
}

bool IsOptInKey(std::string_view key) {
  return std::find(kScheduleOptInKeys.begin(), kScheduleOptInKeys.end(), key) !=
         kScheduleOptInKeys.end();
}

// The known name meant by one that differs only in letter case, if any.
std::optional<std::string_view> Meant(std::string_view name,
                                      const std::vector<std::string_view>& known) {
  for (std::string_view candidate : known) {
    if (EqualsNoCase(candidate, name)) return candidate;
  }
  return std::nullopt;
}

// False, with the reason on `err`, unless the agent reads that section and key.
bool KnownName(const std::string& section, const std::string& key, std::ostream& err) {
  const std::vector<std::string_view> sections = {kServerSection, kScheduleSection};
  if (std::find(sections.begin(), sections.end(), section) == sections.end()) {
    err << "unknown section [" << section << "]";
    if (const auto meant = Meant(section, sections)) err << "; did you mean [" << *meant << "]?";
    err << "\n";
    return false;
  }
  const std::vector<std::string_view> keys = KnownKeys(section);
  if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
    err << "unknown key " << key << " in section [" << section << "]";
    if (const auto meant = Meant(key, keys)) err << "; did you mean " << *meant << "?";
    err << "\n";
    return false;
  }
  return true;
}

// The stored form of a value, or nullopt with the reason on `err` when the
// agent could not read it back as given.
std::optional<std::string> StoredForm(const std::string& key, const std::string& value,
                                      std::ostream& err) {
  if (key == kVerifyKey && value != "0" && value != "1") {
    err << "the value of " << key << " is 0 (off) or 1 (on)\n";
    return std::nullopt;
  }
  if (key == kLogBackupKey && (value.empty() || !LogBackupMinutes(value))) {
    err << "the value of " << key << " is 0 (off) or minutes from " << kMinLogBackupMinutes
        << " to " << kMaxLogBackupMinutes << "\n";
    return std::nullopt;
  }
  if (IsPlainValueKey(key)) {
    const bool control = std::any_of(value.begin(), value.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (control || value.size() > ProfileFile::kMaxValueLength || TrimBlanks(value) != value) {
      err << "the value of " << key << " would not read back as given\n";
      return std::nullopt;
    }
    return value;
  }
  const std::string bytes = ToAnsi(value);
  if (FromAnsi(bytes) != value) {
    err << "the value of " << key << " holds characters that the agent's code page (CP949) "
        << "cannot store\n";
    return std::nullopt;
  }
  if (bytes.size() > kMaxPlainValueBytes) {
    err << "the value of " << key << " is " << bytes.size()
        << " bytes long; the agent reads at most " << kMaxPlainValueBytes << "\n";
    return std::nullopt;
  }
  return ScrambleValue(bytes);
}

struct Options {
  std::vector<std::string> words;
  std::string ini;
  bool reveal = false;
};

bool ParseOptions(const std::vector<std::string>& args, const std::string& defaultIni,
                  Options& options, std::ostream& err) {
  options.ini = defaultIni;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--ini") {
      if (i + 1 >= args.size()) {
        err << "--ini needs a path\n";
        return false;
      }
      options.ini = args[++i];
    } else if (args[i] == "--reveal") {
      options.reveal = true;
    } else {
      options.words.push_back(args[i]);
    }
  }
  return true;
}

void Show(const Settings& s, bool reveal, std::ostream& out) {
  auto line = [&](std::string_view key) {
    const bool masked = key == "Password" && !reveal;
    out << key << "=" << (masked ? std::string(kMasked) : SettingText(s, key)) << "\n";
  };
  for (std::string_view key : kServerKeys) {
    if (!IsPlainValueKey(key)) line(key);
  }
  for (std::string_view key : kScheduleKeys) line(key);
  for (std::string_view key : kScheduleOptInKeys) line(key);
  std::string flags;
  for (bool eligible : s.keyPartEligible) flags += eligible ? '1' : '0';
  out << "KeyPartEligible=" << flags << "\n";
}

Settings LoadForShow(const std::string& ini) {
  Settings settings;
  ClearSettings(settings);
  LoadSettings(settings, ini, /*correctFile=*/false);
  return settings;
}

// Setting a key of a section that loading does not take yet (whole-section
// defaults) writes those defaults for the section's other keys too, so that
// only the key set changes what the agent loads.
int Set(const Options& o, std::ostream& err) {
  const std::string& section = o.words[1];
  const std::string& key = o.words[2];
  if (!KnownName(section, key, err)) return 2;
  const std::optional<std::string> stored = StoredForm(key, o.words[3], err);
  if (!stored) return 2;
  const Settings current = LoadForShow(o.ini);
  ProfileFile file(o.ini, NewFileAccess::OwnerOnly);
  if (key == kLogDeletionKey || IsOptInKey(key) || SectionPresent(file, section)) {
    file.WriteString(section, ScrambleValue(key), *stored);
    return 0;
  }
  std::vector<std::pair<std::string, std::string>> entries;
  for (std::string_view other : KnownKeys(section)) {
    if (other == kLogDeletionKey || IsOptInKey(other)) continue;
    std::string value = other == key ? *stored : SettingText(current, other);
    if (other != key && !IsPlainValueKey(other)) value = ScrambleValue(ToAnsi(value));
    entries.emplace_back(ScrambleValue(other), std::move(value));
  }
  file.WriteStrings(section, entries);
  if (section == kServerSection && key != "DBPath") {
    err << "note: with [" << kServerSection << "] in the file, an empty DBPath reads as C:\\\n";
  }
  return 0;
}

int Run(const Options& o, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& w = o.words;
  const std::string command = w.empty() ? "" : w[0];
  if (command == "show" && w.size() == 1) {
    if (!FileExists(o.ini)) err << o.ini << " does not exist: showing the built-in defaults\n";
    Show(LoadForShow(o.ini), o.reveal, out);
    return 0;
  }
  if (command == "get" && w.size() == 3) {
    if (!KnownName(w[1], w[2], err)) return 2;
    const ProfileFile file(o.ini);
    if (file.unreadable()) throw std::runtime_error("Unable to read " + o.ini);
    const std::string key = ScrambleValue(w[2]);
    if (!file.HasKey(w[1], key)) {
      err << "no entry " << w[2] << " in section [" << w[1] << "] of " << o.ini << "\n";
      return 1;
    }
    const std::string stored = file.ReadString(w[1], key);
    if (w[2] == "Password" && !o.reveal) {
      out << kMasked << "\n";
    } else {
      out << (IsPlainValueKey(w[2]) ? stored : FromAnsi(UnscrambleValue(stored))) << "\n";
    }
    return 0;
  }
  if (command == "set" && w.size() == 4) return Set(o, err);
  if (command == "scramble" && w.size() == 2) {
    out << ScrambleValue(ToAnsi(w[1])) << "\n";
    return 0;
  }
  if (command == "unscramble" && w.size() == 2) {
    out << FromAnsi(UnscrambleValue(w[1])) << "\n";
    return 0;
  }
  err << kUsage;
  return 2;
}

}  // namespace

int RunSettingsTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::string& defaultIniPath) {
  Options options;
  if (!ParseOptions(args, defaultIniPath, options, err)) {
    err << kUsage;
    return 2;
  }
  try {
    return Run(options, out, err);
  } catch (const std::exception& e) {
    err << "MvxRazuSettings: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace mvx
