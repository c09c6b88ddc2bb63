#include "service/restore_support.h"

#include <algorithm>
#include <exception>
#include <ostream>

#include "backup/backup_folder_listing.h"
#include "common/atomic_file.h"
#include "common/date_text.h"
#include "db/database.h"

namespace mvx {

bool SplitCommandWords(const std::vector<std::string>& args,
                       const std::vector<std::string_view>& allowed, CommandWords& words,
                       std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (word.rfind("--", 0) != 0) {
      words.positional.push_back(word);
      continue;
    }
    if (std::find(allowed.begin(), allowed.end(), word) == allowed.end()) {
      err << "unknown option " << word << "\n";
      return false;
    }
    if (word == "--replace") {
      words.replace = true;
    } else if (word == "--run") {
      words.run = true;
    } else {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        err << word << " needs a value\n";
        return false;
      }
      std::optional<std::string>& value =
          word == "--ini" ? words.ini : (word == "--date" ? words.date : words.as);
      value = args[++i];
    }
  }
  return true;
}

bool LoadCommandSettings(const std::string& iniPath, Settings& settings, std::ostream& err) {
  if (!FileExists(iniPath)) err << iniPath << " does not exist: using the built-in defaults\n";
  try {
    ClearSettings(settings);
    LoadSettings(settings, iniPath, /*correctFile=*/false);
    return true;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return false;
  }
}

bool ConnectToMaster(SqlConnection& connection, const Settings& settings, int port,
                     std::string& error) {
  ConnectionParams params = ConfiguredConnectionParams(settings);
  params.database = "master";
  params.portOverride = port;
  const std::string server = params.hostName;
  connection.SetParams(std::move(params));
  try {
    connection.Open();
    return true;
  } catch (const std::exception& e) {
    error = "cannot connect to " + server + ": " + e.what();
    return false;
  }
}

std::optional<RestoreChain> FindRestoreChain(const Settings& settings, std::string_view database,
                                             std::string_view date, std::string& reason) {
  try {
    BackupFolderListing listing = BackupFolderListing::Read(settings.bkPath);
    std::optional<RestoreChain> chain = ChooseRestoreChain(listing, database, DateStamp(date));
    if (!chain) {
      reason = "no full backup of " + std::string(database) + " dated on or before " +
               std::string(date) + " in " + settings.bkPath;
    }
    return chain;
  } catch (const std::exception& e) {
    reason = e.what();
    return std::nullopt;
  }
}

std::string DescribeChain(const RestoreChain& chain) {
  return chain.differential.empty() ? chain.full : chain.full + " + " + chain.differential;
}

}  // namespace mvx
