#pragma once
// DOS dates and times of directory entries as FILETIMEs (100-nanosecond ticks since 1601).
//
// FAT keeps local wall-clock time without a zone, and so does the FILETIME made here: the fields
// are counted as if they were UTC. Whoever turns it into a real instant (setting a recovered file's
// times) applies the local zone.

#include <cstdint>

namespace corvale::fat {

// Date: bits 0-4 day, 5-8 month, 9-15 years since 1980. Time: bits 0-4 seconds / 2, 5-10 minutes,
// 11-15 hours. False (and *out untouched) when a field is out of range: month outside 1..12, a day
// the month does not have, hours past 23, minutes past 59, or seconds / 2 past 29.
bool DosDateTimeToFileTime(uint16_t date, uint16_t time, uint64_t* out);

// The FILETIME of a directory entry's date and time, or 0 when they do not make a time.
uint64_t DosTimeOrZero(uint16_t date, uint16_t time);

}  // namespace corvale::fat
