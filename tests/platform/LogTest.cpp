#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Log.h"
#include "support/Fixtures.h"

using corvale::log::Channel;
using corvale::log::ScopedCapture;

namespace {
std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

TEST(Log, CaptureSeesExactFormattedTextOnEveryChannel) {
  ScopedCapture capture;
  LogError("FileNO:%X \t  Line:%d \t err:%d", 0xABCu, 12, 5);
  LogInfo("Total physical memory:%4lld MB", 12LL);
  ReleaseTrace("UpdateBadSector start = %lld\n", 4096LL);
  DebugTrace("x");
  OutputDebugText("timing %d", 3);
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].channel, Channel::Error);
  EXPECT_EQ(lines[0].text, "FileNO:ABC \t  Line:12 \t err:5");
  EXPECT_EQ(lines[1].text, "Total physical memory:  12 MB");
  EXPECT_EQ(lines[2].text, "UpdateBadSector start = 4096\n");
  EXPECT_EQ(lines[4].channel, Channel::DebugOutput);
}

TEST(Log, FileGetsStampedLinesAndLevelTwoDropsDebugTrace) {
  std::string path = corvale::test::ScratchDir() + "/run.log";
  InitLog(path.c_str(), LOGLEVEL_NORMAL, LOGTYPE_FILE);
  LogInfo("kept %d", 1);
  DebugTrace("dropped %d", 2);
  ReleaseTrace("line with newline\n");
  corvale::log::CloseLog();
  std::string text = ReadAll(path);
  EXPECT_NE(text.find("kept 1\n"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_NE(text.find("line with newline\n"), std::string::npos);
  EXPECT_EQ(text.find("line with newline\n\n"), std::string::npos);

  InitLog(path.c_str(), LOGLEVEL_TRACE, LOGTYPE_FILE);
  DebugTrace("traced %d", 3);
  corvale::log::CloseLog();
  EXPECT_NE(ReadAll(path).find("traced 3"), std::string::npos);
}

TEST(Log, LinesFromManyThreadsArriveWhole) {
  ScopedCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) ReleaseTrace("thread %d line %d", t, i);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(capture.Lines().size(), 1600u);
  EXPECT_TRUE(capture.Has("thread 7 line 199"));
}

TEST(Log, CallsBeforeInitAreAcceptedAndSharedTypeUsesTheWriter) {
  corvale::log::CloseLog();
  DebugTrace("before init");  // must not crash or write anywhere
  std::vector<std::string> shared;
  corvale::log::SetSharedLogWriter([&](std::string_view line) { shared.emplace_back(line); });
  InitLog("", LOGLEVEL_NORMAL, LOGTYPE_SHARED);
  LogInfo("to the launcher");
  corvale::log::CloseLog();
  corvale::log::SetSharedLogWriter(nullptr);
  ASSERT_EQ(shared.size(), 1u);
  EXPECT_NE(shared[0].find("to the launcher\n"), std::string::npos);
}

TEST(Log, FileCodeIsStableAndIgnoresSeparatorAndCase) {
  EXPECT_EQ(FileNameToFileCode(".\\controller\\MapFileTypeInfo"),
            FileNameToFileCode("./controller/mapfiletypeinfo"));
  EXPECT_NE(FileNameToFileCode("a.cpp"), FileNameToFileCode("b.cpp"));
}
