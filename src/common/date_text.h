#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/clock.h"

namespace mvx {

std::string FormatDate(const LocalDateTime& t);        // yyyy-mm-dd
std::string FormatTimeOfDay(const LocalDateTime& t);   // hh:mm
std::string FormatLogKey(const LocalDateTime& t);      // yyyy-mm-dd hh:nn:ss zzz
std::string FormatDottedDate(const LocalDateTime& t);  // yyyy.mm.dd
// mmddyyhhnnsszzz, the clock part of a multipart boundary.
std::string FormatBoundaryStamp(const LocalDateTime& t);
// Korean weekday name, Sunday first: 일 월 화 수 목 금 토.
std::string KoreanWeekday(int weekday);

// Characters 1-4, "-", 6-7, "-", 9-10 of the input; missing characters stay missing.
std::string NormalizeDateText(std::string_view text);
// The normalised date moved by the given days, or the input unchanged when it is no valid date.
std::string ShiftDateText(std::string_view text, int days);
// The date of a text written exactly yyyy-mm-dd that ShiftDateText can move (a real date,
// years 0001 to 9999); nullopt for any other text.
std::optional<LocalDateTime> ParseDateText(std::string_view text);
// yyyymmdd from yyyy-mm-dd (characters 1-4, 6-7, 9-10).
std::string DateStamp(std::string_view dateText);

}  // namespace mvx
