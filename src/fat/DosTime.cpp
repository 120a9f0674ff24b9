#include "fat/DosTime.h"

namespace corvale::fat {

namespace {

bool IsLeap(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned DaysInMonth(unsigned year, unsigned month) {
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1601-01-01 to the first of `year` (year >= 1601).
uint64_t DaysBeforeYear(unsigned year) {
  const uint64_t y = year - 1601;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

}  // namespace

bool DosDateTimeToFileTime(uint16_t date, uint16_t time, uint64_t* out) {
  const unsigned day = date & 0x1F;
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned year = 1980 + (date >> 9);
  const unsigned seconds = (time & 0x1F) * 2;
  const unsigned minutes = (time >> 5) & 0x3F;
  const unsigned hours = time >> 11;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hours > 23 || minutes > 59 || seconds > 59) return false;
  uint64_t days = DaysBeforeYear(year);
  for (unsigned m = 1; m < month; ++m) days += DaysInMonth(year, m);
  days += day - 1;
  const uint64_t secondsSince1601 = days * 86400 + hours * 3600 + minutes * 60 + seconds;
  if (out != nullptr) *out = secondsSince1601 * 10000000ull;
  return true;
}

uint64_t DosTimeOrZero(uint16_t date, uint16_t time) {
  uint64_t value = 0;
  return DosDateTimeToFileTime(date, time, &value) ? value : 0;
}

}  // namespace corvale::fat
