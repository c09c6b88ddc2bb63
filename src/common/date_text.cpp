#include "common/date_text.h"

#include <array>
#include <cstdio>

namespace mvx {
namespace {

template <typename... Args>
std::string Format(const char* pattern, Args... args) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, pattern, args...);
  return buffer;
}

bool ReadDigits(std::string_view text, int& out) {
  if (text.empty()) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::string FormatDate(const LocalDateTime& t) {
  return Format("%04d-%02d-%02d", t.year, t.month, t.day);
}

std::string FormatTimeOfDay(const LocalDateTime& t) {
  return Format("%02d:%02d", t.hour, t.minute);
}

std::string FormatDottedDate(const LocalDateTime& t) {
  return Format("%04d.%02d.%02d", t.year, t.month, t.day);
}

std::string FormatLogKey(const LocalDateTime& t) {
  return Format("%04d-%02d-%02d %02d:%02d:%02d %03d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
}

std::string FormatBoundaryStamp(const LocalDateTime& t) {
  return Format("%02d%02d%02d%02d%02d%02d%03d", t.month, t.day, t.year % 100, t.hour, t.minute,
                t.second, t.millisecond);
}

std::string KoreanWeekday(int weekday) {
  static constexpr std::array<const char*, 7> kNames = {"일", "월", "화", "수", "목", "금", "토"};
  return weekday >= 0 && weekday < 7 ? kNames[weekday] : "";
}

std::string NormalizeDateText(std::string_view text) {
  auto piece = [&](std::size_t from, std::size_t count) {
    return from < text.size() ? std::string(text.substr(from, count)) : std::string();
  };
  return piece(0, 4) + "-" + piece(5, 2) + "-" + piece(8, 2);
}

std::string ShiftDateText(std::string_view text, int days) {
  const std::string normal = NormalizeDateText(text);
  int year = 0, month = 0, day = 0;
  if (normal.size() != 10 || !ReadDigits(std::string_view(normal).substr(0, 4), year) ||
      !ReadDigits(std::string_view(normal).substr(5, 2), month) ||
      !ReadDigits(std::string_view(normal).substr(8, 2), day) || year < 1 || month < 1 ||
      month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return std::string(text);
  }
  const LocalDateTime shifted =
      AddMilliseconds(LocalDateTime::Make(year, month, day), days * 86400000LL);
  if (shifted.year < 1 || shifted.year > 9999) return std::string(text);
  return FormatDate(shifted);
}

std::optional<LocalDateTime> ParseDateText(std::string_view text) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
      !ReadDigits(text.substr(0, 4), year) || !ReadDigits(text.substr(5, 2), month) ||
      !ReadDigits(text.substr(8, 2), day) || ShiftDateText(text, 1) == text) {
    return std::nullopt;
  }
  return LocalDateTime::Make(year, month, day);
}

std::string DateStamp(std::string_view dateText) {
  auto piece = [&](std::size_t from, std::size_t count) {
    return from < dateText.size() ? std::string(dateText.substr(from, count)) : std::string();
  };
  return piece(0, 4) + piece(5, 2) + piece(8, 2);
}

}  // namespace mvx
