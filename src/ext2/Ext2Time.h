#pragma once
// An inode time stamp as local broken-down time.

#include <cstdint>

struct CExt2Time {
  int32_t year = 1970;
  int32_t month = 1;  // 1-12
  int32_t day = 1;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;

  CExt2Time() = default;
  // The inode field is taken as signed seconds since 1970 (UTC); a time before 1970 counts as 1970.
  explicit CExt2Time(uint32_t unixTime);
};
