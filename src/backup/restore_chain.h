#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_folder_listing.h"

namespace mvx {

// What RESTORE HEADERONLY says about the (first) backup set of a file.
struct BackupHeader {
  std::string databaseName;
  long long backupType = 0;  // 1 database, 2 log, 5 differential
  std::string backupSetGuid;
  std::string differentialBaseGuid;
  std::string serverName;       // empty when the header does not say
  std::string backupStartDate;  // as the server writes dates, so that they sort
  std::string backupFinishDate;
  std::string firstLsn;  // numeric(25,0) as decimal digits
  std::string lastLsn;
};

// The backup files that bring a database back: a full backup, the
// differential taken since it when there is one, then the log backups in LSN
// order (each starting where the one before ended).
struct RestoreChain {
  std::string folder;        // as BKPath holds it
  std::string full;          // file names inside the folder
  std::string differential;  // empty: the full alone
  std::vector<std::string> logs;
  std::string stopAt;  // the moment the last log backup stops at; empty: at its end
  // Filled when the chain was chosen by the headers; the full's LastLSN is
  // where the first log backup has to take over.
  BackupHeader fullHeader;
  BackupHeader differentialHeader;
  std::vector<BackupHeader> logHeaders;

  // The paths the server reads, formed as the backups formed them.
  std::string PathOf(std::string_view name) const;
  std::string FullPath() const;
  std::string DifferentialPath() const;
};

// The newest full file (.ful or .trf) of `database` dated on or before
// `untilStamp` (yyyymmdd), then the newest differential (.inc or .tri) dated
// from that full's day to `untilStamp`, by the names alone: what is shown
// when the server cannot read the headers. On one day the agent's own
// extensions win. nullopt without a full.
std::optional<RestoreChain> ChooseRestoreChain(BackupFolderListing& listing,
                                               std::string_view database,
                                               std::string_view untilStamp);

// Reads the header of one file (a path as the server reads it); nullopt with
// the reason when the server cannot.
using BackupHeaderReader =
    std::function<std::optional<BackupHeader>(const std::string& path, std::string& reason)>;

struct HeaderChainChoice {
  std::optional<RestoreChain> chain;
  std::vector<std::string> skipped;  // "<file>: <why>", in the order tried
  // The base of the newest differential when it is no full in the folder
  // (a full backup taken outside this agent); empty otherwise.
  std::string outsideBaseGuid;
  std::string reason;  // without a chain
};

// The chain as the headers make it: of the fulls dated on or before the day,
// newest first (one day's files by their finish time), the first that holds
// a full backup of `database`; then of the differentials dated from its day,
// newest first, the first whose base is that full. Each file is read once.
// With a `moment` ("yyyy-mm-dd hh:mm:ss"), files that finished at or after it
// are skipped.
HeaderChainChoice ChooseChainByHeaders(BackupFolderListing& listing, std::string_view database,
                                       std::string_view untilStamp,
                                       const BackupHeaderReader& readHeader,
                                       std::string_view moment = {});

// The log backups of `database` in the listing dated from `fromStamp` to `untilStamp`
// (yyyymmdd, both days included; an empty `untilStamp`: no end), in the order they were
// taken: by the start time in their names.
std::vector<std::string> DatedLogBackups(BackupFolderListing& listing, std::string_view database,
                                         std::string_view fromStamp, std::string_view untilStamp);

struct LogChainOutcome {
  std::string refused;  // a gap: the two files between which it lies
  std::vector<std::string> skipped;
  bool reachedMoment = false;  // a log backup ends at or after the moment
};

// Appends to the chain the log backups among `logNames` (in the order taken, by
// their names) that continue it: the first holds the LastLSN of the chain's last
// backup, each next one starts where the one before ended, whatever their names'
// order. With a `moment`, the log backups end with the first that finishes at or
// after it. A log backup left over that no other continues lies after a gap.
LogChainOutcome ExtendWithLogBackups(RestoreChain& chain, const std::vector<std::string>& logNames,
                                     const BackupHeaderReader& readHeader, std::string_view moment);

// Whole minutes from `from` to `to` (both "yyyy-mm-dd hh:mm[:ss...]"); 0 when either is no time.
long long MinutesBetween(std::string_view from, std::string_view to);

}  // namespace mvx
