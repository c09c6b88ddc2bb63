#include "commands/restore_support.h"

#include <algorithm>
#include <exception>
#include <ostream>

#include "backup/backup_folder_listing.h"
#include "common/atomic_file.h"
#include "common/date_text.h"
#include "db/database.h"

namespace mvx {

std::optional<OperatorSettings> LoadRestoreSettings(const ServiceOptions& options,
                                                    const std::optional<std::string>& iniPath,
                                                    std::ostream& err) {
  try {
    OperatorSettings loaded = LoadOperatorSettings(options, iniPath);
    if (!loaded.fileExists) {
      err << loaded.path << " does not exist: using the built-in defaults\n";
    }
    return loaded;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return std::nullopt;
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
