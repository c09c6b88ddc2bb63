#pragma once

#include <string>

#include "common/clock.h"
#include "config/settings.h"

namespace mvx {

// The schedule in words: "full on Fridays from 17:00, differential on the other days from
// 17:00, every 1800 s, 30 days kept".
std::string ScheduleInWords(const Settings& settings);

}  // namespace mvx
