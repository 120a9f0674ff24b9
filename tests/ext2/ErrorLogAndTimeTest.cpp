// The engine's error log and the conversion of inode times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ext2/DirEntry.h"
#include "ext2/Ext2Exceptions.h"
#include "ext2/Ext2Time.h"
#include "platform/ProgramFolder.h"

namespace {

std::string LogTail(size_t from) {
  std::ifstream in(Ext2ErrorLogPath(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  return from <= all.size() ? all.substr(from) : std::string();
}

size_t LogSize() { return LogTail(0).size(); }

TEST(Ext2ErrorLog, HandlersWriteTheTypeNameThenTheText) {
  EXPECT_EQ(platform::ProgramFolder() + "Ext2Error.log", Ext2ErrorLogPath());
  const size_t before = LogSize();
  LogExt2Exception(CExt2BadSuperBlock());
  LogExt2Exception(std::range_error("CExt2FileSystem::ReadBlocks"));
  LogExt2Exception(CExt2DirEntry::CBadDir());
  LogExt2Error(nullptr);
  EXPECT_EQ(
      "CExt2BadSuperBlock\nstd::exception\nstd::range_error\nCExt2FileSystem::ReadBlocks\nCExt2DirEntry::"
      "CBadDir\n"
      "std::exception\n",
      LogTail(before));
}

TEST(Ext2ErrorLog, LinesFromSeveralThreadsStayWhole) {
  const size_t before = LogSize();
  std::vector<std::thread> threads;
  const std::string line(300, 'x');
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) LogExt2Error((std::to_string(t) + line).c_str());
    });
  for (std::thread& th : threads) th.join();
  std::istringstream lines(LogTail(before));
  std::string l;
  int count = 0;
  while (std::getline(lines, l)) {
    ++count;
    EXPECT_EQ(301u, l.size());
    EXPECT_EQ(line, l.substr(1));
  }
  EXPECT_EQ(200, count);
}

// Inode times are local broken-down time; one before 1970 counts as 1970.
TEST(Ext2Time, ConvertsWithTheLocalZone) {
  const char* old = std::getenv("TZ");
  std::string saved = old != nullptr ? old : "";
  struct Row {
    const char* zone;
    uint32_t time;
    CExt2Time expected;
  };
  auto make = [](int y, int mo, int d, int h, int mi, int s) {
    CExt2Time t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
  };
  const Row rows[] = {
      {"UTC0", 0, make(1970, 1, 1, 0, 0, 0)},
      {"UTC0", 1700000000, make(2023, 11, 14, 22, 13, 20)},
      {"UTC0", 0x80000000u, make(1970, 1, 1, 0, 0, 0)},
      {"UTC0", 0x7FFFFFFFu, make(2038, 1, 19, 3, 14, 7)},
      {"XYZ-2", 1700000000, make(2023, 11, 15, 0, 13, 20)},
  };
  for (const Row& row : rows) {
    setenv("TZ", row.zone, 1);
    tzset();
    CExt2Time t(row.time);
    EXPECT_EQ(row.expected.year, t.year) << row.time;
    EXPECT_EQ(row.expected.month, t.month) << row.time;
    EXPECT_EQ(row.expected.day, t.day) << row.time;
    EXPECT_EQ(row.expected.hour, t.hour) << row.time;
    EXPECT_EQ(row.expected.minute, t.minute) << row.time;
    EXPECT_EQ(row.expected.second, t.second) << row.time;
  }
  if (old != nullptr)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
