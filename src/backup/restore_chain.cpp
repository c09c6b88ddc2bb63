#include "backup/restore_chain.h"

#include <initializer_list>
#include <tuple>

#include "common/text_util.h"

namespace mvx {
namespace {

struct Candidate {
  std::string name;
  std::string stamp;
  std::size_t extension = 0;
};

// The newest file of the groups dated from `fromStamp` to `untilStamp`. The
// first extension listed wins a tie, then the smaller name (two names that
// differ in case only, on a case-sensitive file system), so that the choice
// never depends on the directory order.
std::optional<Candidate> Newest(BackupFolderListing& listing, const std::string& upperDatabase,
                                std::initializer_list<std::size_t> extensions,
                                std::string_view fromStamp, std::string_view untilStamp) {
  std::optional<Candidate> best;
  for (std::size_t extension : extensions) {
    const BackupFolderListing::Group* group = listing.Find(extension, upperDatabase);
    if (group == nullptr) continue;
    for (const std::string& name : *group) {
      const std::optional<BackupFileNameParts> parts = ParseBackupFileName(name);
      if (!parts || parts->stamp < fromStamp || parts->stamp > untilStamp) continue;
      const bool better = !best || std::tie(parts->stamp, best->extension, best->name) >
                                       std::tie(best->stamp, extension, name);
      if (better) best = Candidate{name, parts->stamp, extension};
    }
  }
  return best;
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

}  // namespace

std::string RestoreChain::FullPath() const { return PathIn(folder, full); }

std::string RestoreChain::DifferentialPath() const {
  return differential.empty() ? std::string() : PathIn(folder, differential);
}

std::optional<RestoreChain> ChooseRestoreChain(BackupFolderListing& listing,
                                               std::string_view database,
                                               std::string_view untilStamp) {
  // Indices into kBackupExtensions: .ful .inc .trf .tri
  constexpr std::size_t kFul = 0, kInc = 1, kTrf = 2, kTri = 3;
  const std::string upper = UpperAscii(database);
  const std::optional<Candidate> full = Newest(listing, upper, {kFul, kTrf}, "", untilStamp);
  if (!full) return std::nullopt;
  RestoreChain chain;
  chain.folder = listing.folder();
  chain.full = full->name;
  if (const std::optional<Candidate> differential =
          Newest(listing, upper, {kInc, kTri}, full->stamp, untilStamp)) {
    chain.differential = differential->name;
  }
  return chain;
}

}  // namespace mvx
