#include "commands/restore_support.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "backup/backup_folder_listing.h"
#include "common/atomic_file.h"
#include "common/date_text.h"
#include "common/disk_identity.h"
#include "common/host_info.h"
#include "db/database.h"

namespace mvx {

std::optional<OperatorSettings> LoadRestoreSettings(const ServiceOptions& options,
                                                    const std::optional<std::string>& iniPath,
                                                    std::ostream& err) {
  // A file named on the command line and missing is a typing error: the
  // built-in defaults would restore on the local server with the default login.
  if (iniPath && !FileExists(*iniPath)) {
    err << "Unable to read " << *iniPath << "\n";
    return std::nullopt;
  }
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

std::optional<VisibleDisk> VisibleDiskOf(std::string_view folder) {
  std::error_code error;
  const std::string native = NativePath(folder);
  const std::filesystem::path path(std::u8string(native.begin(), native.end()));
  if (native.empty() || !std::filesystem::is_directory(path, error)) return std::nullopt;
  const std::filesystem::space_info space = std::filesystem::space(path, error);
  if (error) return std::nullopt;
  return VisibleDisk{space.available, DiskIdentity(folder)};
}

std::string DescribeChain(const RestoreChain& chain) {
  std::string text =
      chain.differential.empty() ? chain.full : chain.full + " + " + chain.differential;
  if (!chain.logs.empty()) text += " + " + std::to_string(chain.logs.size()) + " log backup(s)";
  return text;
}

}  // namespace mvx
