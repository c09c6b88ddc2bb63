#pragma once

// The faults of a simulated season, drawn from a seed: which of them are in force at each
// moment. Times are seconds since midnight of the season's first day.

#include <cstdint>
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
  static constexpr long long kDay = 86400;
  // Faults that can keep a backup from being taken end by this time of day, so that
  // every day has clean ticks left to take its backups.
  static constexpr long long kCleanEvening = 21 * 3600;

  FaultPlan(std::uint64_t seed, int days);

  TickFaults At(long long time) const;
  // Seconds after midnight of the first day at which the service starts.
  long long StartTime() const { return startTime_; }
  // One line per window, for the report of a failed season.
  std::string Describe() const;

 private:
  struct Window {
    Fault fault;
    long long from, to;  // from inclusive, to exclusive
    // Backup faults: the slots mask. Support server down: 1 when its hosts answer no ping either.
    std::uint8_t slots;
  };

  long long startTime_ = 0;
  std::vector<Window> windows_;
  std::vector<std::string> transportModes_;  // one per day
};

}  // namespace mvx::season
