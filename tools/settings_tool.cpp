#include "settings_tool.h"

#include <exception>

#include "common/ansi_codec.h"
#include "common/profile_file.h"
#include "common/scramble.h"
#include "config/settings.h"

namespace mvx {
namespace {

constexpr const char* kUsage =
    "usage: MvxRazuSettings show [--ini PATH] [--reveal]\n"
    "       MvxRazuSettings get SECTION KEY [--ini PATH]\n"
    "       MvxRazuSettings set SECTION KEY VALUE [--ini PATH]\n"
    "       MvxRazuSettings scramble TEXT\n"
    "       MvxRazuSettings unscramble DIGITS\n";

// The value of "cfgType" is stored plain; every other value is scrambled.
bool IsPlainValueKey(const std::string& key) { return key == "cfgType"; }

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
  auto line = [&](const std::string& key, const std::string& value) {
    out << key << "=" << value << "\n";
  };
  line("Name", s.serverName);
  line("ID", s.login);
  line("Password", reveal ? s.password : "********");
  for (std::size_t i = 0; i < s.databases.size(); ++i) {
    line("BackupDB" + std::to_string(i + 1), s.databases[i]);
  }
  line("DBPath", s.dbPath);
  line("BKPath", s.bkPath);
  line("FullType", s.fullType);
  for (std::size_t i = 0; i < s.fullDays.size(); ++i) {
    line("FullDay" + std::to_string(i + 1), s.fullDays[i]);
  }
  line("FullTime", s.fullTime);
  line("IncType", s.incType);
  for (std::size_t i = 0; i < s.incDays.size(); ++i) {
    line("IncBDay" + std::to_string(i + 1), s.incDays[i]);
  }
  line("IncBTime", s.incTime);
  line("TimerInt", std::to_string(s.timerInt));
  line("KeyWeek", s.keyWeek);
  line("KeyTime", s.keyTime);
  line("Save", s.save);
  std::string flags;
  for (bool eligible : s.keyPartEligible) flags += eligible ? '1' : '0';
  line("KeyPartEligible", flags);
}

int Run(const Options& o, std::ostream& out, std::ostream& err) {
  const std::vector<std::string>& w = o.words;
  const std::string command = w.empty() ? "" : w[0];
  if (command == "show" && w.size() == 1) {
    Settings settings;
    ClearSettings(settings);
    LoadSettings(settings, o.ini, /*correctFile=*/false);
    Show(settings, o.reveal, out);
    return 0;
  }
  if (command == "get" && w.size() == 3) {
    const ProfileFile file(o.ini);
    const std::string key = ScrambleValue(w[2]);
    if (!file.HasKey(w[1], key)) {
      err << "no entry " << w[2] << " in section [" << w[1] << "] of " << o.ini << "\n";
      return 1;
    }
    const std::string stored = file.ReadString(w[1], key);
    out << (IsPlainValueKey(w[2]) ? stored : FromAnsi(UnscrambleValue(stored))) << "\n";
    return 0;
  }
  if (command == "set" && w.size() == 4) {
    ProfileFile file(o.ini);
    const std::string value = IsPlainValueKey(w[2]) ? w[3] : ScrambleValue(ToAnsi(w[3]));
    file.WriteString(w[1], ScrambleValue(w[2]), value);
    return 0;
  }
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
