#include "season_fault_plan.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace mvx::season {
namespace {

constexpr long long kHour = 3600;
constexpr long long kMinute = 60;

// SplitMix64: the same numbers from a seed on every platform and library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  long long Below(long long n) {
    return static_cast<long long>(Next() % static_cast<std::uint64_t>(n));
  }
  long long Between(long long low, long long high) { return low + Below(high - low + 1); }

 private:
  std::uint64_t state_;
};

// How each fault comes, in the order of Fault.
struct Shape {
  const char* name;
  int chancePercent;  // per day
  long long shortest, longest;
  bool blocksBackups;  // kept out of the clean evening
};

constexpr Shape kShapes[] = {
    {"server down", 20, 1 * kHour, 6 * kHour, true},
    {"login refused", 15, 30 * kMinute, 3 * kHour, true},
    {"BACKUP refused", 25, 1 * kHour, 4 * kHour, true},
    {"connection dropped in BACKUP", 20, 30 * kMinute, 2 * kHour, true},
    {"low disk", 15, 2 * kHour, 12 * kHour, false},
    {"support server down", 15, 1 * kHour, 8 * kHour, false},
    {"support server slow", 8, 30 * kMinute, 90 * kMinute, false},
    {"log file unwritable", 12, 1 * kHour, 10 * kHour, false},
};
static_assert(std::size(kShapes) == static_cast<std::size_t>(Fault::kCount));

bool PerSlot(Fault fault) {
  return fault == Fault::kBackupRefused || fault == Fault::kBackupDropped;
}

std::string Clock(long long time) {
  char text[32];
  std::snprintf(text, sizeof text, "d%lld %02lld:%02lld", time / FaultPlan::kDay,
                time % FaultPlan::kDay / kHour, time % kHour / kMinute);
  return text;
}

}  // namespace

FaultPlan::FaultPlan(std::uint64_t seed, int days) {
  Random random(seed);
  startTime_ = random.Below(kHour);
  for (int day = 0; day < days; ++day) {
    const long long midnight = day * kDay;
    transportModes_.push_back(random.Below(3) == 0 ? "2" : "1");
    for (int i = 0; i < static_cast<int>(Fault::kCount); ++i) {
      const Shape& shape = kShapes[i];
      const auto fault = static_cast<Fault>(i);
      if (random.Below(100) >= shape.chancePercent) continue;
      const long long latest = shape.blocksBackups ? kCleanEvening - kHour : kDay;
      const long long from = midnight + random.Below(latest / kMinute) * kMinute;
      long long to =
          from + random.Between(shape.shortest / kMinute, shape.longest / kMinute) * kMinute;
      if (shape.blocksBackups) to = std::min(to, midnight + kCleanEvening);
      const auto slots = static_cast<std::uint8_t>(PerSlot(fault) ? random.Between(1, 63)
                                                   : fault == Fault::kSupportDown ? random.Below(2)
                                                                                  : 0);
      windows_.push_back({fault, from, std::min(to, days * kDay), slots});
    }
  }
}

TickFaults FaultPlan::At(long long time) const {
  TickFaults faults;
  if (!transportModes_.empty()) {
    const auto day = static_cast<std::size_t>(std::max(0LL, time / kDay));
    faults.transportMode = transportModes_[std::min(day, transportModes_.size() - 1)];
  }
  for (const Window& window : windows_) {
    if (time < window.from || time >= window.to) continue;
    faults.inForce |= 1u << static_cast<int>(window.fault);
    if (window.fault == Fault::kBackupRefused) faults.backupRefused |= window.slots;
    if (window.fault == Fault::kBackupDropped) faults.backupDropped |= window.slots;
    if (window.fault == Fault::kSupportDown) faults.supportHostsSilent |= window.slots != 0;
  }
  return faults;
}

std::string FaultPlan::Describe() const {
  std::string text;
  for (const Window& window : windows_) {
    text += Clock(window.from) + " to " + Clock(window.to) + ": " +
            kShapes[static_cast<int>(window.fault)].name;
    if (window.fault == Fault::kSupportDown && window.slots != 0) text += " (hosts silent)";
    if (PerSlot(window.fault)) text += " (slots mask " + std::to_string(window.slots) + ")";
    text += "\n";
  }
  return text;
}

}  // namespace mvx::season
