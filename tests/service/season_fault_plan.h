#pragma once

// The faults of a simulated season, drawn from a seed: which of them are in force at each
// moment. Times are seconds since midnight of the season's first day.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace mvx::season {

enum class Fault {
  kServerDown,     // the SQL server closes every connection before its login
  kLoginRefused,   // every login fails
  kBackupRefused,  // BACKUP statements of the chosen slots end in an error
  kBackupDropped,  // the connection drops in the middle of the chosen slots' BACKUP
  kLowDisk,        // DBPath's volume has less than the warning threshold free
  kSupportDown,    // the support server closes every connection; or its hosts answer no ping
  kSupportSlow,    // the support server takes longer than the link waits
  kLogUnwritable,  // RazuRarevi.Log cannot be written
  kCount
};

// The state of the world at one tick.
struct TickFaults {
  unsigned inForce = 0;                               // bit per Fault
  std::uint8_t backupRefused = 0, backupDropped = 0;  // bit i for slot i + 1
  bool supportHostsSilent = false;
  std::string transportMode = "1";  // what T0246 holds that day: "1" socket, "2" HTTP

  bool Has(Fault fault) const { return (inForce >> static_cast<int>(fault) & 1) != 0; }
  // No connection reaches the server.
  bool ServerUnreachable() const { return Has(Fault::kServerDown) || Has(Fault::kLoginRefused); }
};

class FaultPlan {
 public:
  static constexpr long long kMinute = 60, kHour = 3600, kDay = 86400;
  // Faults that can keep a backup from being taken end by this time of day, so that
  // every day has clean ticks left to take its backups.
  static constexpr long long kCleanEvening = 21 * kHour;

  FaultPlan(std::uint64_t seed, int days) {
    // SplitMix64: the same numbers from a seed on every platform and library.
    auto below = [state = seed](long long n) mutable {
      std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      return static_cast<long long>((z ^ (z >> 31)) % static_cast<std::uint64_t>(n));
    };
    auto between = [&below](long long low, long long high) { return low + below(high - low + 1); };
    startTime_ = below(kHour);
    for (int day = 0; day < days; ++day) {
      const long long midnight = day * kDay;
      transportModes_.push_back(below(3) == 0 ? "2" : "1");
      for (int i = 0; i < static_cast<int>(Fault::kCount); ++i) {
        const Shape& shape = kShapes[i];
        const auto fault = static_cast<Fault>(i);
        if (below(100) >= shape.chancePercent) continue;
        const long long latest = shape.blocksBackups ? kCleanEvening - kHour : kDay;
        const long long from = midnight + below(latest / kMinute) * kMinute;
        long long to = from + between(shape.shortest / kMinute, shape.longest / kMinute) * kMinute;
        if (shape.blocksBackups) to = std::min(to, midnight + kCleanEvening);
        const auto slots = static_cast<std::uint8_t>(PerSlot(fault)                 ? between(1, 63)
                                                     : fault == Fault::kSupportDown ? below(2)
                                                                                    : 0);
        windows_.push_back({fault, from, std::min(to, days * kDay), slots});
      }
    }
  }

  TickFaults At(long long time) const {
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

  // Seconds after midnight of the first day at which the service starts.
  long long StartTime() const { return startTime_; }

  static const char* Name(Fault fault) { return kShapes[static_cast<int>(fault)].name; }

  // One line per window, for the report of a failed season.
  std::string Describe() const {
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

 private:
  // How each fault comes, in the order of Fault.
  struct Shape {
    const char* name;
    int chancePercent;  // per day
    long long shortest, longest;
    bool blocksBackups;  // kept out of the clean evening
  };
  static constexpr Shape kShapes[] = {
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

  struct Window {
    Fault fault;
    long long from, to;  // from inclusive, to exclusive
    // Backup faults: the slots mask. Support server down: 1 when its hosts answer no ping either.
    std::uint8_t slots;
  };

  static bool PerSlot(Fault fault) {
    return fault == Fault::kBackupRefused || fault == Fault::kBackupDropped;
  }
  static std::string Clock(long long time) {
    char text[32];
    std::snprintf(text, sizeof text, "d%lld %02lld:%02lld", time / kDay, time % kDay / kHour,
                  time % kHour / kMinute);
    return text;
  }

  long long startTime_ = 0;
  std::vector<Window> windows_;
  std::vector<std::string> transportModes_;  // one per day
};

}  // namespace mvx::season
