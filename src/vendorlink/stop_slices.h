#pragma once

#include <algorithm>
#include <atomic>

namespace mvx {

// The link's waits are cut into slices this long and look at the service's
// stop flag between them, so a stop request ends any of them within a slice.
inline constexpr int kStopSliceMs = 100;

// True once a stop was requested; a null flag never is.
inline bool StopRequested(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(); }

// The next slice of a wait with `leftMs` to go.
inline int NextSliceMs(int leftMs) { return std::clamp(leftMs, 0, kStopSliceMs); }

}  // namespace mvx
