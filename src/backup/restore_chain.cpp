#include "backup/restore_chain.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <tuple>
#include <utility>

#include "common/text_util.h"

namespace mvx {
namespace {

// Indices into kBackupExtensions: .ful .inc .trf .tri
constexpr std::size_t kFul = 0, kInc = 1, kTrf = 2, kTri = 3;
constexpr long long kFullBackupType = 1;
constexpr long long kDifferentialBackupType = 5;

struct Candidate {
  std::string name;
  std::string stamp;
  std::size_t extension = 0;
};

// The files of the groups dated from `fromStamp` to `untilStamp`, newest
// first; on one day the first extension listed, then the smaller name (two
// names that differ in case only), so that the order never depends on the
// directory order.
std::vector<Candidate> Dated(BackupFolderListing& listing, const std::string& upperDatabase,
                             std::initializer_list<std::size_t> extensions,
                             std::string_view fromStamp, std::string_view untilStamp) {
  std::vector<Candidate> found;
  for (std::size_t extension : extensions) {
    const BackupFolderListing::Group* group = listing.Find(extension, upperDatabase);
    if (group == nullptr) continue;
    for (const std::string& name : *group) {
      const std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
      if (!parts || parts->stamp < fromStamp || parts->stamp > untilStamp) continue;
      found.push_back({name, parts->stamp, extension});
    }
  }
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(b.stamp, a.extension, a.name) < std::tie(a.stamp, b.extension, b.name);
  });
  return found;
}

std::string Describe(const BackupHeader& header) {
  return "a backup of type " + std::to_string(header.backupType) + " of " + header.databaseName;
}

// Reads each file's header once and hands out one day's files at a time,
// the later finish first.
class HeaderCache {
 public:
  HeaderCache(const RestoreChain& paths, const BackupHeaderReader& reader)
      : paths_(paths), reader_(reader) {}

  const std::optional<BackupHeader>& Read(const std::string& name, std::string& reason) {
    const auto known = read_.find(name);
    if (known != read_.end()) {
      reason = reasons_[name];
      return known->second;
    }
    std::optional<BackupHeader> header = reader_(paths_.PathOf(name), reason);
    reasons_[name] = reason;
    return read_.emplace(name, std::move(header)).first->second;
  }

  // Candidates of one day come together; within the day, the later
  // BackupFinishDate first, unreadable files last.
  std::vector<Candidate> DayOrder(std::vector<Candidate> day) {
    std::string ignored;
    for (const Candidate& file : day) Read(file.name, ignored);
    std::stable_sort(day.begin(), day.end(), [&](const Candidate& a, const Candidate& b) {
      const std::optional<BackupHeader>& ha = read_[a.name];
      const std::optional<BackupHeader>& hb = read_[b.name];
      if (!hb) return ha.has_value();
      return ha && ha->backupFinishDate > hb->backupFinishDate;
    });
    return day;
  }

 private:
  const RestoreChain& paths_;
  const BackupHeaderReader& reader_;
  std::map<std::string, std::optional<BackupHeader>> read_;
  std::map<std::string, std::string> reasons_;
};

// Walks the candidates day by day (newest first) and hands each to `take`
// until it accepts one.
template <typename Take>
void ByDay(const std::vector<Candidate>& candidates, HeaderCache& cache, Take take) {
  for (std::size_t from = 0; from < candidates.size();) {
    std::size_t to = from;
    while (to < candidates.size() && candidates[to].stamp == candidates[from].stamp) ++to;
    const std::vector<Candidate> day =
        cache.DayOrder({candidates.begin() + static_cast<std::ptrdiff_t>(from),
                        candidates.begin() + static_cast<std::ptrdiff_t>(to)});
    for (const Candidate& file : day) {
      if (take(file)) return;
    }
    from = to;
  }
}

// Whether a backup finished at or after the moment (so it holds later changes).
bool FinishedBy(const BackupHeader& header, std::string_view moment) {
  return !moment.empty() && !header.backupFinishDate.empty() &&
         std::string_view(header.backupFinishDate) >= moment;
}

// LSNs are decimal numbers of up to 25 digits.
bool LsnLess(std::string_view a, std::string_view b) {
  auto trimmed = [](std::string_view lsn) {
    while (lsn.size() > 1 && lsn.front() == '0') lsn.remove_prefix(1);
    return lsn;
  };
  a = trimmed(a);
  b = trimmed(b);
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Minutes since 0000-03-01 of "yyyy-mm-dd hh:mm"; nullopt for another text.
std::optional<long long> MinuteNumber(std::string_view text) {
  if (text.size() < 16 || !AllDigits(text.substr(0, 4)) || !AllDigits(text.substr(5, 2)) ||
      !AllDigits(text.substr(8, 2)) || !AllDigits(text.substr(11, 2)) ||
      !AllDigits(text.substr(14, 2))) {
    return std::nullopt;
  }
  auto number = [&](std::size_t at, std::size_t length) {
    return std::stoll(std::string(text.substr(at, length)));
  };
  long long year = number(0, 4);
  const long long month = number(5, 2);
  year -= month <= 2 ? 1 : 0;
  const long long era = year / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + number(8, 2) - 1;
  const long long days =
      era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return (days * 24 + number(11, 2)) * 60 + number(14, 2);
}

}  // namespace

std::vector<std::string> DatedLogBackups(BackupFolderListing& listing, std::string_view database,
                                         std::string_view fromStamp, std::string_view untilStamp) {
  std::vector<std::pair<std::string, std::string>> dated;  // stamp, name
  if (const BackupFolderListing::Group* logs = listing.FindLogBackups(UpperAscii(database))) {
    for (const std::string& name : *logs) {
      const std::optional<LogBackupFileNameParts> parts = ParseLogBackupFileName(name);
      if (!parts) continue;
      const std::string_view day = std::string_view(parts->stamp).substr(0, kBackupStampLength);
      if (day < fromStamp || (!untilStamp.empty() && day > untilStamp)) continue;
      dated.emplace_back(parts->stamp, name);
    }
  }
  // The stamp is the start of the backup: its order is the order taken; two names that
  // differ in case only keep one order whatever the directory's.
  std::sort(dated.begin(), dated.end());
  std::vector<std::string> names;
  names.reserve(dated.size());
  for (auto& [stamp, name] : dated) names.push_back(std::move(name));
  return names;
}

long long MinutesBetween(std::string_view from, std::string_view to) {
  const std::optional<long long> a = MinuteNumber(from);
  const std::optional<long long> b = MinuteNumber(to);
  return a && b ? *b - *a : 0;
}

LogChainOutcome ExtendWithLogBackups(RestoreChain& chain, const std::vector<std::string>& logNames,
                                     const BackupHeaderReader& readHeader,
                                     std::string_view moment) {
  LogChainOutcome outcome;
  const bool withDifferential = !chain.differential.empty();
  std::string previousName = withDifferential ? chain.differential : chain.full;
  std::string lastLsn =
      withDifferential ? chain.differentialHeader.lastLsn : chain.fullHeader.lastLsn;
  if (!AllDigits(lastLsn)) return outcome;  // a header without LSNs: nothing to continue
  // The first must hold the chain's last LSN; each next one starts where the one before ended.
  auto continues = [&](const BackupHeader& header) {
    return !LsnLess(lastLsn, header.firstLsn) &&
           (chain.logs.empty() || !LsnLess(header.firstLsn, lastLsn));
  };
  // Read, but not yet continuing the chain: a clock set back (the end of summer time) names a
  // later backup before an earlier one. Whatever waits at the end lies after a gap.
  std::vector<std::pair<std::string, BackupHeader>> waiting;
  std::size_t next = 0;
  for (;;) {
    std::erase_if(waiting,
                  [&](const auto& held) { return !LsnLess(lastLsn, held.second.lastLsn); });
    std::optional<std::pair<std::string, BackupHeader>> found;
    const auto held = std::find_if(waiting.begin(), waiting.end(), [&](const auto& candidate) {
      return continues(candidate.second);
    });
    if (held != waiting.end()) {
      found = std::move(*held);
      waiting.erase(held);
    }
    while (!found && next < logNames.size()) {
      const std::string& name = logNames[next++];
      std::string reason;
      std::optional<BackupHeader> header = readHeader(chain.PathOf(name), reason);
      if (!header) {
        outcome.skipped.push_back(name + ": " + reason);
        continue;
      }
      if (header->backupType != 2 ||
          !EqualsNoCase(header->databaseName, chain.fullHeader.databaseName) ||
          !AllDigits(header->firstLsn) || !AllDigits(header->lastLsn)) {
        outcome.skipped.push_back(name + ": it holds " + Describe(*header) +
                                  ", not a log backup (type 2) with its LSNs");
        continue;
      }
      if (!LsnLess(lastLsn, header->lastLsn)) continue;  // it ends before the chain does
      if (continues(*header)) {
        found.emplace(name, std::move(*header));
      } else {
        waiting.emplace_back(name, std::move(*header));
      }
    }
    if (!found) break;
    chain.logs.push_back(found->first);
    chain.logHeaders.push_back(found->second);
    previousName = found->first;
    lastLsn = found->second.lastLsn;
    if (FinishedBy(found->second, moment)) {
      // A moment past a log's end would leave the database restoring: only
      // the log that holds it stops there.
      outcome.reachedMoment = true;
      chain.stopAt = std::string(moment);
      return outcome;
    }
  }
  if (!waiting.empty()) {
    outcome.refused =
        "the log backups have a gap between " + previousName + " and " + waiting.front().first;
  }
  return outcome;
}

std::string RestoreChain::PathOf(std::string_view name) const {
  return folder + "\\" + std::string(name);
}

std::string RestoreChain::FullPath() const { return PathOf(full); }

std::string RestoreChain::DifferentialPath() const {
  return differential.empty() ? std::string() : PathOf(differential);
}

std::optional<RestoreChain> ChooseRestoreChain(BackupFolderListing& listing,
                                               std::string_view database,
                                               std::string_view untilStamp) {
  const std::string upper = UpperAscii(database);
  const std::vector<Candidate> fulls = Dated(listing, upper, {kFul, kTrf}, "", untilStamp);
  if (fulls.empty()) return std::nullopt;
  RestoreChain chain;
  chain.folder = listing.folder();
  chain.full = fulls.front().name;
  // A differential holds every change since its full, so one is enough.
  const std::vector<Candidate> differentials =
      Dated(listing, upper, {kInc, kTri}, fulls.front().stamp, untilStamp);
  if (!differentials.empty()) chain.differential = differentials.front().name;
  return chain;
}

HeaderChainChoice ChooseChainByHeaders(BackupFolderListing& listing, std::string_view database,
                                       std::string_view untilStamp,
                                       const BackupHeaderReader& readHeader,
                                       std::string_view moment) {
  HeaderChainChoice choice;
  const std::string upper = UpperAscii(database);
  const std::string wanted(database);
  RestoreChain chain;
  chain.folder = listing.folder();
  HeaderCache cache(chain, readHeader);

  // The header of a file holding a backup of `type` of the database that finished before the
  // moment; null with the reason among the skipped files.
  const auto usable = [&](const Candidate& file, long long type,
                          std::string_view kind) -> const BackupHeader* {
    std::string reason;
    const std::optional<BackupHeader>& header = cache.Read(file.name, reason);
    if (!header) {
      choice.skipped.push_back(file.name + ": " + reason);
      return nullptr;
    }
    if (header->backupType != type || !EqualsNoCase(header->databaseName, wanted)) {
      choice.skipped.push_back(file.name + ": it holds " + Describe(*header) + ", not a " +
                               std::string(kind) + " of " + wanted);
      return nullptr;
    }
    if (FinishedBy(*header, moment)) {
      choice.skipped.push_back(file.name + ": it finished at " + header->backupFinishDate);
      return nullptr;
    }
    return &*header;
  };

  const std::vector<Candidate> fulls = Dated(listing, upper, {kFul, kTrf}, "", untilStamp);
  std::string baseStamp;
  ByDay(fulls, cache, [&](const Candidate& file) {
    const BackupHeader* header = usable(file, kFullBackupType, "full backup (type 1)");
    if (header == nullptr) return false;
    chain.full = file.name;
    chain.fullHeader = *header;
    baseStamp = file.stamp;
    return true;
  });
  if (chain.full.empty()) {
    choice.reason =
        fulls.empty()
            ? "no full backup of " + wanted + " dated on or before " + std::string(untilStamp)
            : "no file holds a full backup of " + wanted + " that the server can read" +
                  (moment.empty() ? std::string() : " finished before " + std::string(moment));
    return choice;
  }

  const std::vector<Candidate> differentials =
      Dated(listing, upper, {kInc, kTri}, baseStamp, untilStamp);
  bool newest = true;
  ByDay(differentials, cache, [&](const Candidate& file) {
    const bool first = std::exchange(newest, false);
    const BackupHeader* header =
        usable(file, kDifferentialBackupType, "differential backup (type 5)");
    if (header == nullptr) return false;
    if (!chain.fullHeader.backupSetGuid.empty() &&
        EqualsNoCase(header->differentialBaseGuid, chain.fullHeader.backupSetGuid)) {
      chain.differential = file.name;
      chain.differentialHeader = *header;
      return true;
    }
    // Whose differential it is: a full of this folder, or one taken elsewhere. While a full of
    // the folder cannot be read, it may be that one: nothing is said of an outside full then.
    std::string owner;
    std::string unreadable;
    for (const Candidate& full : Dated(listing, upper, {kFul, kTrf}, "", file.stamp)) {
      std::string ignored;
      const std::optional<BackupHeader>& other = cache.Read(full.name, ignored);
      if (!other && unreadable.empty()) unreadable = full.name;
      if (other && !other->backupSetGuid.empty() &&
          EqualsNoCase(other->backupSetGuid, header->differentialBaseGuid)) {
        owner = full.name;
        break;
      }
    }
    if (owner.empty() && unreadable.empty() && first) {
      choice.outsideBaseGuid = header->differentialBaseGuid;
    }
    if (owner.empty()) {
      owner = unreadable.empty() ? "one that is not in the folder"
                                 : "perhaps " + unreadable + ", which the server cannot read";
    }
    choice.skipped.push_back(file.name + ": it belongs to another full backup (" + owner + ")");
    return false;
  });
  choice.chain = std::move(chain);
  return choice;
}

}  // namespace mvx
