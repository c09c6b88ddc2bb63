#include "season_fault_plan.h"

#include <algorithm>
#include <cstdio>

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
  bool Percent(int chance) { return Below(100) < chance; }

 private:
  std::uint64_t state_;
};

struct Shape {
  Fault fault;
  int chancePercent;  // per day
  long long shortest, longest;
  bool blocksBackups;  // kept out of the clean evening
};

constexpr Shape kShapes[] = {
    {Fault::kServerDown, 20, 1 * kHour, 6 * kHour, true},
    {Fault::kLoginRefused, 15, 30 * kMinute, 3 * kHour, true},
    {Fault::kBackupRefused, 25, 1 * kHour, 4 * kHour, true},
    {Fault::kBackupDropped, 20, 30 * kMinute, 2 * kHour, true},
    {Fault::kLowDisk, 15, 2 * kHour, 12 * kHour, false},
    {Fault::kSupportDown, 15, 1 * kHour, 8 * kHour, false},
    {Fault::kSupportSlow, 8, 30 * kMinute, 90 * kMinute, false},
    {Fault::kLogUnwritable, 12, 1 * kHour, 10 * kHour, false},
};

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::kServerDown:
      return "server down";
    case Fault::kLoginRefused:
      return "login refused";
    case Fault::kBackupRefused:
      return "BACKUP refused";
    case Fault::kBackupDropped:
      return "connection dropped in BACKUP";
    case Fault::kLowDisk:
      return "low disk";
    case Fault::kSupportDown:
      return "support server down";
    case Fault::kSupportSlow:
      return "support server slow";
    case Fault::kLogUnwritable:
      return "log file unwritable";
  }
  return "?";
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
    for (const Shape& shape : kShapes) {
      if (!random.Percent(shape.chancePercent)) continue;
      const long long latest = shape.blocksBackups ? kCleanEvening - kHour : kDay;
      const long long from = midnight + random.Below(latest / kMinute) * kMinute;
      long long to =
          from + random.Between(shape.shortest / kMinute, shape.longest / kMinute) * kMinute;
      if (shape.blocksBackups) to = std::min(to, midnight + kCleanEvening);
      const bool perSlot =
          shape.fault == Fault::kBackupRefused || shape.fault == Fault::kBackupDropped;
      const auto slots =
          static_cast<std::uint8_t>(perSlot                              ? random.Between(1, 63)
                                    : shape.fault == Fault::kSupportDown ? random.Below(2)
                                                                         : 0);
      windows_.push_back({shape.fault, from, std::min(to, days * kDay), slots});
    }
  }
}

TickFaults FaultPlan::At(long long time) const {
  TickFaults faults;
  for (const FaultWindow& window : windows_) {
    if (time < window.from || time >= window.to) continue;
    switch (window.fault) {
      case Fault::kServerDown:
        faults.serverDown = true;
        break;
      case Fault::kLoginRefused:
        faults.loginRefused = true;
        break;
      case Fault::kBackupRefused:
        faults.backupRefused |= window.slots;
        break;
      case Fault::kBackupDropped:
        faults.backupDropped |= window.slots;
        break;
      case Fault::kLowDisk:
        faults.lowDisk = true;
        break;
      case Fault::kSupportDown:
        faults.supportDown = true;
        faults.supportHostsSilent |= window.slots != 0;
        break;
      case Fault::kSupportSlow:
        faults.supportSlow = true;
        break;
      case Fault::kLogUnwritable:
        faults.logUnwritable = true;
        break;
    }
  }
  return faults;
}

std::string FaultPlan::TransportMode(long long time) const {
  const auto day = static_cast<std::size_t>(std::max(0LL, time / kDay));
  return transportModes_.empty() ? "1" : transportModes_[std::min(day, transportModes_.size() - 1)];
}

std::string FaultPlan::Describe() const {
  std::string text;
  for (const FaultWindow& window : windows_) {
    text += Clock(window.from) + " to " + Clock(window.to) + ": " + Name(window.fault);
    if (window.fault == Fault::kSupportDown && window.slots != 0) text += " (hosts silent)";
    if (window.fault == Fault::kBackupRefused || window.fault == Fault::kBackupDropped) {
      text += " (slots mask " + std::to_string(window.slots) + ")";
    }
    text += "\n";
  }
  return text;
}

}  // namespace mvx::season
