#include "ext2/Ext2Time.h"

#include <ctime>

CExt2Time::CExt2Time(uint32_t unixTime) {
  int32_t seconds = static_cast<int32_t>(unixTime);
  time_t t = seconds < 0 ? 0 : seconds;
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return;
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  hour = local.tm_hour;
  minute = local.tm_min;
  second = local.tm_sec;
}
