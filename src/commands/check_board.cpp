#include "commands/check_board.h"

#include <utility>

namespace mvx {

std::size_t CheckBoard::AddPlace(std::vector<CheckItem> expected) {
  const std::lock_guard lock(mutex_);
  places_.push_back(Place{std::move(expected), {}, false});
  return places_.size() - 1;
}

void CheckBoard::Expect(std::size_t place, std::vector<CheckItem> expected) {
  const std::lock_guard lock(mutex_);
  places_.at(place).expected = std::move(expected);
}

void CheckBoard::Post(std::size_t place, CheckItem item) {
  const std::lock_guard lock(mutex_);
  places_.at(place).posted.push_back(std::move(item));
}

void CheckBoard::Finish(std::size_t place) {
  {
    const std::lock_guard lock(mutex_);
    places_.at(place).finished = true;
  }
  changed_.notify_all();
}

void CheckBoard::PostPart(CheckItem part) {
  const std::lock_guard lock(mutex_);
  std::string key = part.mergeKey;
  parts_.insert_or_assign(std::move(key), std::move(part));
}

void CheckBoard::FinishParts() {
  {
    const std::lock_guard lock(mutex_);
    partsFinished_ = true;
  }
  changed_.notify_all();
}

void CheckBoard::PostTransportMode(const std::string& mode) {
  {
    const std::lock_guard lock(mutex_);
    if (!transportMode_) transportMode_ = mode;
  }
  changed_.notify_all();
}

std::optional<std::string> CheckBoard::WaitTransportMode(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, until, [this] { return transportMode_.has_value(); });
  return transportMode_;
}

bool CheckBoard::AllFinished() const {
  if (!partsFinished_) return false;
  for (const Place& place : places_) {
    if (!place.finished) return false;
  }
  return true;
}

bool CheckBoard::WaitAll(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, until, [this] { return AllFinished(); });
}

std::vector<CheckItem> CheckBoard::Collect() {
  const std::lock_guard lock(mutex_);
  std::vector<CheckItem> items;
  for (const Place& place : places_) {
    std::vector<CheckItem> shown = place.posted;
    if (!place.finished) {
      for (std::size_t i = shown.size(); i < place.expected.size(); ++i) {
        CheckItem missing = place.expected[i];
        missing.status = CheckStatus::kUnknown;
        missing.detail = "not checked: time limit";
        shown.push_back(std::move(missing));
      }
    }
    for (CheckItem& item : shown) {
      if (item.mergeKey.empty()) {
        items.push_back(std::move(item));
        continue;
      }
      const auto part = parts_.find(item.mergeKey);
      items.push_back(MergedItem(std::move(item), part == parts_.end() ? nullptr : &part->second,
                                 partsFinished_));
    }
  }
  return items;
}

CheckItem MergedItem(CheckItem item, const CheckItem* part, bool partsFinished) {
  if (part == nullptr) {
    if (!partsFinished) {
      item.status = CheckStatus::kUnknown;
      item.detail += ", backup folder not checked: time limit";
    }
    return item;
  }
  item.status = Worse(item.status, part->status);
  if (!part->detail.empty()) item.detail += ", " + part->detail;
  item.figures.insert(item.figures.end(), part->figures.begin(), part->figures.end());
  item.perf.insert(item.perf.end(), part->perf.begin(), part->perf.end());
  return item;
}

}  // namespace mvx
