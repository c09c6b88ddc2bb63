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
};

struct FaultWindow {
  Fault fault;
  long long from;  // inclusive
  long long to;    // exclusive
  // Backup faults: bit i for slot i + 1. Support server down: 1 when its hosts answer no
  // ping either.
  std::uint8_t slots;
};

// The faults in force at one tick.
struct TickFaults {
  bool serverDown = false;
  bool loginRefused = false;
  std::uint8_t backupRefused = 0;
  std::uint8_t backupDropped = 0;
  bool lowDisk = false;
  bool supportDown = false;
  bool supportHostsSilent = false;
  bool supportSlow = false;
  bool logUnwritable = false;

  // No connection reaches the server.
  bool ServerUnreachable() const { return serverDown || loginRefused; }
};

class FaultPlan {
 public:
  static constexpr long long kDay = 86400;
  // Faults that can keep a backup from being taken end by this time of day, so that
  // every day has clean ticks left to take its backups.
  static constexpr long long kCleanEvening = 21 * 3600;

  FaultPlan(std::uint64_t seed, int days);

  TickFaults At(long long time) const;
  // "1" (socket) or "2" (HTTP): the transport mode T0246 holds on that day.
  std::string TransportMode(long long time) const;
  // Seconds after midnight of the first day at which the service starts.
  long long StartTime() const { return startTime_; }
  const std::vector<FaultWindow>& Windows() const { return windows_; }
  // One line per window, for the report of a failed season.
  std::string Describe() const;

 private:
  long long startTime_ = 0;
  std::vector<FaultWindow> windows_;
  std::vector<std::string> transportModes_;  // one per day
};

}  // namespace mvx::season
