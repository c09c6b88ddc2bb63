#include "common/date_text.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(DateText, ShiftDateText) {
  struct Case {
    std::string input;
    int days;
    std::string expected;
  };
  const Case cases[] = {
      {"2026-03-01", -1, "2026-02-28"},
      {"2024-03-01", -1, "2024-02-29"},
      {"2026-02-30", 5, "2026-02-30"},
      {"2026/12/06", 0, "2026-12-06"},
      {"2026-12-06 09:00", 1, "2026-12-07"},
      {"2024-03-15", -30, "2024-02-14"},
      {"2024-12-31", 1, "2025-01-01"},
      {"2000-02-29", 366, "2001-03-01"},
      {"1900-02-29", 0, "1900-02-29"},
      {"abcd-ef-gh", -14, "abcd-ef-gh"},
      {"", -14, ""},
      {"2026", 3, "2026"},
      {"2026-1-05", 0, "2026-1-05"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShiftDateText(c.input, c.days), c.expected) << c.input << " " << c.days;
  }
}

TEST(DateText, NormalizeDateText) {
  EXPECT_EQ(NormalizeDateText("2026.12.06"), "2026-12-06");
  EXPECT_EQ(NormalizeDateText("2026-12-06 09:00"), "2026-12-06");
  EXPECT_EQ(NormalizeDateText("2026"), "2026--");
  EXPECT_EQ(NormalizeDateText(""), "--");
}

TEST(DateText, Formats) {
  const LocalDateTime t = LocalDateTime::Make(2024, 3, 15, 7, 5, 9, 42);
  EXPECT_EQ(FormatDate(t), "2024-03-15");
  EXPECT_EQ(FormatTimeOfDay(t), "07:05");
  EXPECT_EQ(FormatDottedDate(t), "2024.03.15");
  EXPECT_EQ(FormatLogKey(t), "2024-03-15 07:05:09 042");
  EXPECT_EQ(FormatBoundaryStamp(t), "031524070509042");
  EXPECT_EQ(KoreanWeekday(t.weekday), "금");  // 2024-03-15 was a Friday
  EXPECT_EQ(DateStamp("2024-03-15"), "20240315");
}

TEST(Clock, AddMillisecondsCarriesAcrossMidnightAndMonths) {
  const LocalDateTime edge = LocalDateTime::Make(2024, 2, 29, 23, 59, 59, 999);
  EXPECT_EQ(AddMilliseconds(edge, 1), LocalDateTime::Make(2024, 3, 1));
  EXPECT_EQ(AddMilliseconds(LocalDateTime::Make(2024, 1, 1), -1),
            LocalDateTime::Make(2023, 12, 31, 23, 59, 59, 999));
  ManualClock clock(edge);
  clock.SetStepMilliseconds(1);
  EXPECT_EQ(clock.Now().day, 29);
  EXPECT_EQ(clock.Now().day, 1);
}

}  // namespace
}  // namespace mvx
