#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "platform/Allocation.h"
#include "platform/Log.h"
#include "support/Fixtures.h"

using platform::kOutOfMemoryExitCode;

namespace {

void* FailEverything(size_t) { return nullptr; }
void* FailLarge(size_t size) { return size >= 0x1000000 ? nullptr : std::malloc(size); }
void* FailInsideLogging(size_t size) { return corvale::log::InsideLogCall() ? nullptr : std::malloc(size); }

// Death tests run their statement in a fresh copy of this program.
class AllocationDeath : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(AllocationDeath, FailureEndsTheProcessWithTheMemoryCrashStatus) {
  EXPECT_EXIT(
      {
        platform::SetRawAllocatorForTesting(&FailLarge);
        AllocateMemory(0x10000000);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "");
}

// The handler of this test checks what was logged before it was called, and tells by its exit status.
corvale::log::ScopedCapture* g_capture = nullptr;
constexpr int kLoggedAsExpected = 42;
constexpr int kLoggedOtherwise = 43;

void CheckLogThenExit(size_t requested) {
  std::vector<std::string> lines = g_capture->Texts();
  bool ok = requested == 0x10000000 && lines.size() >= 4 && lines[0] == "Failed to alloc 0x10000000 bytes" &&
            lines[lines.size() - 3] == "Memory status:" &&
            lines[lines.size() - 2].rfind("Total physical memory:", 0) == 0 &&
            lines[lines.size() - 2].find(" MB\tAvailable physical memory:") != std::string::npos &&
            lines[lines.size() - 1].rfind("Total   page    files:", 0) == 0 &&
            lines[lines.size() - 1].find(" MB\tAvailable    page   files:") != std::string::npos;
  for (const std::string& line : lines) std::fprintf(stderr, "logged: %s\n", line.c_str());
  std::_Exit(ok ? kLoggedAsExpected : kLoggedOtherwise);
}

TEST_F(AllocationDeath, FailureLogsSizeAndMemoryStatusBeforeTheHandler) {
  EXPECT_EXIT(
      {
        g_capture = new corvale::log::ScopedCapture;
        platform::SetOutOfMemoryHandler(&CheckLogThenExit);
        platform::SetRawAllocatorForTesting(&FailLarge);
        AllocateMemory(0x10000000);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kLoggedAsExpected), "");
}

TEST_F(AllocationDeath, OperatorNewTakesTheSamePathAndNoCatchAllSwallowsIt) {
  EXPECT_EXIT(
      {
        platform::SetRawAllocatorForTesting(&FailLarge);
        try {
          std::vector<char> big(0x2000000);
          std::fprintf(stderr, "allocated %zu\n", big.size());
        } catch (...) {
          std::fprintf(stderr, "swallowed\n");
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "");
  EXPECT_EXIT(
      {
        platform::SetRawAllocatorForTesting(&FailLarge);
        char* p = new (std::nothrow) char[0x2000000];
        std::fprintf(stderr, "nothrow gave %p\n", static_cast<void*>(p));
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "");
}

void ReturningHandler(size_t) {}

TEST_F(AllocationDeath, HandlerThatReturnsStillEndsTheProcess) {
  EXPECT_EXIT(
      {
        platform::SetOutOfMemoryHandler(&ReturningHandler);
        platform::SetRawAllocatorForTesting(&FailLarge);
        AllocateMemory(0x10000000);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "");
}

void AllocatingHandler(size_t) {
  // The user interface's handler shows a message, which allocates; with memory gone that fails too.
  std::string text(1000, 'x');
  std::fprintf(stderr, "handler allocated %zu\n", text.size());
  std::_Exit(1);
}

TEST_F(AllocationDeath, NothingLeftToAllocateStillEndsWithoutRecursion) {
  // Logging the failure and running the handler both need memory here; neither may loop or hang.
  EXPECT_EXIT(
      {
        platform::SetOutOfMemoryHandler(&AllocatingHandler);
        platform::SetRawAllocatorForTesting(&FailEverything);
        AllocateMemory(64);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "");
}

TEST_F(AllocationDeath, FailureInsideALogCallIsReportedOnStderr) {
  // The log's lock is held there: the report goes around the log instead of waiting on it.
  EXPECT_EXIT(
      {
        platform::SetRawAllocatorForTesting(&FailInsideLogging);
        LogInfo("a line long enough to need the heap: %s", std::string(600, 'x').c_str());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(kOutOfMemoryExitCode), "Failed to alloc 0x[0-9a-f]{8,} bytes");
}

TEST(Allocation, ZeroBytesGiveABlockThatCanBeFreed) {
  void* block = AllocateMemory(0);
  ASSERT_NE(block, nullptr);
  FreeMemory(block);
  FreeMemory(nullptr);
}

TEST(Allocation, MemoryStatusLinesInMiB) {
  std::string path = corvale::test::ScratchDir() + "/meminfo";
  std::ofstream(path) << "MemTotal:       16384000 kB\n"
                         "MemFree:          100000 kB\n"
                         "MemAvailable:      12288 kB\n"
                         "SwapCached:            0 kB\n"
                         "SwapTotal:      2097152 kB\n"
                         "SwapFree:       1048576 kB\n";
  corvale::log::ScopedCapture capture;
  platform::LogMemoryStatus(path.c_str());
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{
                                 "Memory status:",
                                 "Total physical memory:16000 MB\tAvailable physical memory:  12 MB",
                                 "Total   page    files:2048 MB\tAvailable    page   files:1024 MB",
                             }));
}

TEST(Allocation, UnreadableMemoryStatusIsSaidAndShownAsZero) {
  corvale::log::ScopedCapture capture;
  platform::LogMemoryStatus("/nonexistent/meminfo");
  EXPECT_EQ(capture.Texts(), (std::vector<std::string>{
                                 "Failed to query memory status.",
                                 "Memory status:",
                                 "Total physical memory:   0 MB\tAvailable physical memory:   0 MB",
                                 "Total   page    files:   0 MB\tAvailable    page   files:   0 MB",
                             }));
}

TEST(Allocation, MemInfoParsing) {
  platform::MemoryStatus status;
  // Kernels before MemAvailable: the free memory stands in for it.
  std::string old = "MemTotal: 2048 kB\nMemFree: 1024 kB\n";
  ASSERT_TRUE(platform::ParseMemInfo(old.data(), old.size(), &status));
  EXPECT_EQ(status.totalPhysical, 2048u * 1024);
  EXPECT_EQ(status.availablePhysical, 1024u * 1024);
  EXPECT_EQ(status.totalPageFiles, 0u);
  for (std::string bad : {std::string(), std::string("MemTotal: kB\nMemFree: 1 kB\n"),
                          std::string("MemTotalX: 5 kB\nMemFree: 1 kB\n"),
                          std::string("MemTotal: 99999999999999999999999 kB\nMemFree: 1 kB\n"),
                          std::string("\xff\x00garbage", 9)})
    EXPECT_FALSE(platform::ParseMemInfo(bad.data(), bad.size(), &status)) << bad;
  // The real file of this machine reads.
  EXPECT_TRUE(platform::QueryMemoryStatus(&status));
  EXPECT_GT(status.totalPhysical, 0u);
}

}  // namespace
