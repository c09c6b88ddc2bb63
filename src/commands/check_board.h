#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "commands/check_items.h"

namespace mvx {

// Where the check's independent parts, each on a thread of its own, leave their items, and
// where the command collects them when all are in or the time limit has come. A part that
// never ends (a hung driver call, a network path that does not answer) keeps only its thread
// and this board alive; its places then read "not checked: time limit".
class CheckBoard {
 public:
  using Clock = std::chrono::steady_clock;

  // A place for the items of one part, shown in the order the places were added. `expected`
  // names the items it should hold; the ones missing at the end are reported unchecked.
  std::size_t AddPlace(std::vector<CheckItem> expected);
  // The part found out which items it will give (a slot the image database joins).
  void Expect(std::size_t place, std::vector<CheckItem> expected);
  void Post(std::size_t place, CheckItem item);
  // No more items come for the place.
  void Finish(std::size_t place);

  // A part's side facts, merged into the item of the same merge key when the items are
  // collected (the folder's facts of each slot, kept apart from the server's).
  void PostPart(CheckItem part);
  // No more side facts come.
  void FinishParts();

  // The transport mode read from the server; the first posted counts.
  void PostTransportMode(const std::string& mode);
  std::optional<std::string> WaitTransportMode(Clock::time_point until);

  // Waits until every place and the side facts are finished, or `until`; true when they are.
  bool WaitAll(Clock::time_point until);
  // Every item in order, the unfinished ones as "not checked: time limit".
  std::vector<CheckItem> Collect();

 private:
  struct Place {
    std::vector<CheckItem> expected, posted;
    bool finished = false;
  };
  bool AllFinished() const;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Place> places_;
  std::map<std::string, CheckItem> parts_;
  bool partsFinished_ = false;
  std::optional<std::string> transportMode_;
};

// A slot's or the folder's item with the side facts of the same key: the worse status, the
// details one after the other, the figures and perfdata of both.
CheckItem MergedItem(CheckItem item, const CheckItem* part, bool partsFinished);

}  // namespace mvx
