#include "commands/check_folder_items.h"

#include <exception>
#include <optional>
#include <set>

#include "backup/backup_engine.h"
#include "backup/backup_file_name.h"
#include "backup/backup_folder.h"
#include "backup/backup_folder_listing.h"
#include "backup/disk_root_path.h"
#include "commands/schedule_judgement.h"
#include "common/date_text.h"
#include "common/host_info.h"
#include "common/json_text.h"
#include "common/text_util.h"
#include "service/image_database.h"

namespace mvx {
namespace {

constexpr std::string_view kBadSuffix = ".bad";

std::string Stamp(const LocalDateTime& day) {
  const std::string date = FormatDate(day);  // yyyy-mm-dd
  return date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2);
}

long long HoursSince(const std::string& stamp, const LocalDateTime& now) {
  const LocalDateTime day = LocalDateTime::Make(
      std::stoi(stamp.substr(0, 4)), std::stoi(stamp.substr(4, 2)), std::stoi(stamp.substr(6, 2)));
  return (DayNumber(now) - DayNumber(day)) * 24 + now.hour;
}

std::string NewestStamp(BackupFolderListing& listing, const std::string& database,
                        std::size_t extension, std::string& name) {
  const BackupFolderListing::Group* files = listing.Find(extension, UpperAscii(database));
  std::string newest;
  if (files == nullptr) return newest;
  for (const std::string& file : *files) {
    const std::string stamp = ParseBackupFileName(file)->stamp;
    if (stamp > newest) {
      newest = stamp;
      name = file;
    }
  }
  return newest;
}

// The due backups of one kind without a file: "the full backup due on 2024-03-15".
int MissedDueBackups(const Settings& settings, bool full, const LocalDateTime& now,
                     const std::string& newestStamp, std::vector<std::string>& days) {
  int missed = 0;
  for (const LocalDateTime& day : PassedDueDays(settings, full, now, 2)) {
    if (newestStamp >= Stamp(day)) break;
    ++missed;
    days.insert(days.begin(), FormatDate(day));
  }
  return missed;
}

CheckItem SlotFacts(BackupFolderListing& listing, const Settings& settings,
                    const std::string& database, const LocalDateTime& now) {
  CheckItem part;
  part.mergeKey = SlotKey(database);
  std::string fullName, differentialName;
  const std::string full = NewestStamp(listing, database, 0, fullName);
  const std::string differential = NewestStamp(listing, database, 1, differentialName);
  std::vector<std::string> notes = {"newest files " + (full.empty() ? "(no .ful)" : fullName) +
                                    ", " + (differential.empty() ? "(no .inc)" : differentialName)};
  part.figures = {
      {"newestFullFile", full.empty() ? "null" : JsonQuote(fullName)},
      {"newestDifferentialFile", differential.empty() ? "null" : JsonQuote(differentialName)}};
  for (const auto& [stamp, kind, key] :
       {std::tuple{full, "full", "newestFullAgeHours"},
        std::tuple{differential, "differential", "newestDifferentialAgeHours"}}) {
    const std::string hours = stamp.empty() ? "" : std::to_string(HoursSince(stamp, now));
    if (!hours.empty()) part.figures.push_back({key, hours});
    part.perf.push_back(
        {PerfLabel(database + " " + kind + " age hours"), hours.empty() ? "U" : hours, "", "", ""});
  }
  // A missed full backup warns, two missed fail; differentials one level lower.
  for (const bool isFull : {true, false}) {
    std::vector<std::string> days;
    const int missed = MissedDueBackups(settings, isFull, now, isFull ? full : differential, days);
    if (missed == 0) continue;
    const std::string kind = isFull ? "full" : "differential";
    notes.push_back(missed == 1 ? "the " + kind + " backup due on " + days[0] + " has no file"
                                : "the " + kind + " backups due on " + days[0] + " and " + days[1] +
                                      " have no file");
    const CheckStatus status = isFull ? (missed == 1 ? CheckStatus::kWarn : CheckStatus::kFail)
                                      : (missed == 1 ? CheckStatus::kOk : CheckStatus::kWarn);
    part.status = Worse(part.status, status);
  }
  part.detail = JoinedByCommas(notes);
  return part;
}

CheckItem FolderFacts(const Settings& settings, const ServiceOptions& options) {
  CheckItem part;
  part.mergeKey = std::string(kFolderKey);
  std::vector<std::string> notes;
  try {
    const std::vector<std::string> bad =
        ListBackupFolderFiles(settings.bkPath, [](std::string_view name) {
          return name.size() > kBadSuffix.size() &&
                 EqualsNoCase(name.substr(name.size() - kBadSuffix.size()), kBadSuffix) &&
                 ParseBackupFileName(name.substr(0, name.size() - kBadSuffix.size()));
        });
    if (!bad.empty()) {
      part.status = CheckStatus::kWarn;
      notes.push_back("failed verifications left " + JoinedByCommas(bad));
    }
  } catch (const std::exception& e) {
    part.status = CheckStatus::kWarn;
    notes.push_back(std::string("not readable here: ") + e.what());
  }
  const std::string root = DiskRootPath(settings.dbPath);
  const std::uint64_t freeBytes =
      options.freeSpace ? options.freeSpace(root) : GetFreeDiskBytes(root);
  const std::uint64_t megabytes = freeBytes / kBytesPerMegabyte;
  part.figures.push_back({"freeBytes", std::to_string(freeBytes)});
  part.perf.push_back(
      {"free space", std::to_string(megabytes), "MB", std::to_string(kWarningMegabytes) + ":", ""});
  notes.push_back(std::to_string(megabytes) + " MB free on " + root);
  if (DiskSpaceShort(freeBytes)) {
    notes.back() += " (under " + std::to_string(kWarningMegabytes) + " MB)";
    part.status = Worse(part.status, CheckStatus::kWarn);
  }
  part.detail = JoinedByCommas(notes);
  return part;
}

}  // namespace

std::string PerfLabel(std::string_view text) {
  std::string label;
  for (const char c : text) {
    if (c != '\'' && c != '|') label += c;
  }
  return label;
}

void PostFolderFacts(const Settings& settings, const ServiceOptions& options,
                     const LocalDateTime& now, CheckBoard& board) {
  std::set<std::string> databases;
  for (const std::string& name : settings.databases) {
    if (!name.empty()) databases.insert(name);
  }
  databases.insert(std::string(kImageDatabase));  // it may join a slot at the check
  std::optional<BackupFolderListing> listing;
  std::string error;
  try {
    listing = BackupFolderListing::Read(settings.bkPath);
  } catch (const std::exception& e) {
    error = e.what();
  }
  for (const std::string& database : databases) {
    if (listing) {
      board.PostPart(SlotFacts(*listing, settings, database, now));
    } else {
      CheckItem part = MakeCheckItem(CheckStatus::kWarn, "", "backup folder not readable here");
      part.mergeKey = SlotKey(database);
      board.PostPart(std::move(part));
    }
  }
  board.PostPart(FolderFacts(settings, options));
  board.FinishParts();
}

}  // namespace mvx
