#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/FileMappingLog.h"
#include "platform/Log.h"
#include "platform/NamedMutex.h"
#include "platform/NamedObjects.h"
#include "platform/SharedMemory.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"

using corvale::kSharedLogSize;
using corvale::log::ScopedCapture;
using corvale::test::ScopedNamedObjectNamespace;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A log file for one test, opened the way the launcher opens it.
class LogFile {
 public:
  // `dir` empty: a fresh scratch folder (which replaces any earlier one of the same test).
  explicit LogFile(const std::string& dir = "")
      : m_path((dir.empty() ? corvale::test::ScratchDir() : dir) + "/CorvaleDataRecovery.log") {
    m_fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  ~LogFile() {
    if (m_fd >= 0) close(m_fd);
  }
  int fd() const { return m_fd; }
  std::string Text() const { return ReadAll(m_path); }

 private:
  std::string m_path;
  int m_fd = -1;
};

// The buffer's byte count, read and set behind the log objects' backs.
class RawBuffer {
 public:
  RawBuffer() : m_memory(corvale::SharedMemory::Open(corvale::kSharedLogName, kSharedLogSize)) {}
  bool ok() const { return m_memory != nullptr; }
  uint32_t Used() const {
    const unsigned char* p = m_memory->Data();
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
  }
  void SetUsed(uint32_t used) {
    unsigned char* p = m_memory->Data();
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(used >> (8 * i));
  }

 private:
  std::unique_ptr<corvale::SharedMemory> m_memory;
};

}  // namespace

TEST(SharedLog, WrittenTextReachesTheFileOnFlushAndTheBufferEmpties) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  CFileMappingLog writer(0);
  ASSERT_TRUE(launcher.IsOpen());
  ASSERT_TRUE(writer.IsOpen());
  EXPECT_EQ(writer.Initialize(0), 1);
  EXPECT_EQ(writer.Write("first line\n", 11), 1);
  EXPECT_EQ(writer.Write("second", 6), 1);
  LogFile file;
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
  EXPECT_EQ(file.Text(), "first line\nsecond");
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1) << "an empty buffer flushes nothing and succeeds";
  EXPECT_EQ(file.Text(), "first line\nsecond");
}

TEST(SharedLog, WriteThatDoesNotFitWholeIsDroppedWhole) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  CFileMappingLog writer(0);
  ASSERT_TRUE(writer.Write("0123456789", 10));
  const size_t room = kSharedLogSize - 4 - 10;
  std::string big(room + 1, 'x');
  EXPECT_EQ(writer.Write(big.data(), static_cast<unsigned>(room + 1)), 0);
  EXPECT_EQ(writer.Write(big.data(), static_cast<unsigned>(room)), 1) << "exactly the room left fits";
  EXPECT_EQ(writer.Write("y", 1), 0);
  EXPECT_EQ(writer.Write(nullptr, 5), 0);
  EXPECT_EQ(writer.Write("y", 0), 0);
  LogFile file;
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
  EXPECT_EQ(file.Text().size(), kSharedLogSize - 4);
}

TEST(SharedLog, CreatorStartsEmptyButAWriterKeepsUncollectedText) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  {
    CFileMappingLog crashedWriter(0);
    crashedWriter.Write("last words\n", 11);
  }
  CFileMappingLog restartedWriter(0);
  restartedWriter.Write("restarted\n", 10);
  LogFile file;
  launcher.FlushToFile(file.fd());
  EXPECT_EQ(file.Text(), "last words\nrestarted\n");

  restartedWriter.Write("stale", 5);
  CFileMappingLog newLauncher(1);
  std::string otherDir = corvale::test::ScratchDir() + "/second";
  mkdir(otherDir.c_str(), 0755);
  LogFile second(otherDir);
  EXPECT_EQ(newLauncher.FlushToFile(second.fd()), 1);
  EXPECT_EQ(second.Text(), "") << "the creating side starts at 0 even when the buffer existed";
}

// A byte count in the buffer that claims more than it can hold must never make a flush read past it.
class SharedLogCorruptCount : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SharedLogCorruptCount, FlushWritesNothingAndResetsTheCount) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  RawBuffer raw;
  ASSERT_TRUE(raw.ok());
  raw.SetUsed(GetParam());
  ScopedCapture capture;
  LogFile file;
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 0);
  EXPECT_EQ(file.Text(), "");
  EXPECT_EQ(raw.Used(), 0u);
  CFileMappingLog writer(0);
  EXPECT_EQ(writer.Write("after", 5), 1) << "the buffer works again";
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
  EXPECT_EQ(file.Text(), "after");
}

INSTANTIATE_TEST_SUITE_P(Counts, SharedLogCorruptCount,
                         ::testing::Values(uint32_t(kSharedLogSize - 3), uint32_t(kSharedLogSize),
                                           uint32_t(0xFFFFFFFF)));

TEST(SharedLog, CountThatFillsTheBufferExactlyIsFlushedWhole) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  RawBuffer raw;
  raw.SetUsed(kSharedLogSize - 4);
  LogFile file;
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
  EXPECT_EQ(file.Text().size(), kSharedLogSize - 4);
}

TEST(SharedLog, FailuresAreReportedOnTheDebuggerChannel) {
  ScopedNamedObjectNamespace ns;
  ScopedCapture capture;
  CFileMappingLog orphan(0);
  EXPECT_FALSE(orphan.IsOpen());
  EXPECT_TRUE(capture.Has("Failed to create map file!\n"));
  EXPECT_EQ(orphan.Write("x", 1), 0);
  EXPECT_TRUE(capture.Has("Failed to request the permission to write to buffer!\n"));
  LogFile file;
  EXPECT_EQ(orphan.FlushToFile(file.fd()), 0);
  EXPECT_TRUE(capture.Has("Failed to request the permission to write to log file!\n"));

  CFileMappingLog launcher(1);
  EXPECT_EQ(launcher.FlushToFile(-1), 0);
}

TEST(SharedLog, WriteGivesUpAfterASecondWhenTheMutexIsHeld) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  CFileMappingLog writer(0);
  corvale::NamedMutex other(corvale::kSharedLogMutexName, false);
  ASSERT_TRUE(other.Lock(0));
  ScopedCapture capture;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(writer.Write("x", 1), 0);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_LT(waited, std::chrono::seconds(10));
  EXPECT_TRUE(capture.Has("Failed to request the permission to write to buffer!\n"));
  other.Unlock();
  EXPECT_EQ(writer.Write("x", 1), 1);
}

TEST(SharedLog, WriterThatDiesHoldingTheMutexDoesNotBlockTheLauncher) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    static corvale::NamedMutex held(corvale::kSharedLogMutexName, false);
    if (!held.Lock(0)) _exit(3);
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(2);
    for (;;) pause();
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  LogFile file;
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
}

TEST(SharedLog, LinesOfAnotherProcessArriveWholeAndInOrderWhileFlushing) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  LogFile file;
  constexpr int kLines = 3000;
  pid_t child = fork();
  if (child == 0) {
    CFileMappingLog writer(0);
    for (int i = 0; i < kLines; ++i) {
      std::string line = "line " + std::to_string(i) + "\n";
      while (!writer.Write(line.data(), static_cast<unsigned>(line.size()))) usleep(100);
    }
    _exit(0);
  }
  int status = -1;
  while (waitpid(child, &status, WNOHANG) == 0) launcher.FlushToFile(file.fd());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  launcher.FlushToFile(file.fd());
  std::istringstream text(file.Text());
  std::string line;
  int expected = 0;
  while (std::getline(text, line)) {
    ASSERT_EQ(line, "line " + std::to_string(expected));
    ++expected;
  }
  EXPECT_EQ(expected, kLines);
}

TEST(SharedLog, LogLibraryOfTypeOneWritesIntoTheBuffer) {
  ScopedNamedObjectNamespace ns;
  CFileMappingLog launcher(1);
  ASSERT_TRUE(corvale::ConnectLogToSharedBuffer());
  std::string dir = corvale::test::ScratchDir();
  LogFile file(dir);
  std::string ownFile = dir + "/own.log";
  InitLog(ownFile.c_str(), LOGLEVEL_NORMAL, LOGTYPE_SHARED);
  LogInfo("Module Directory - %s", "/opt/corvale/");
  corvale::log::SetSharedLogWriter(nullptr);
  corvale::log::CloseLog();
  EXPECT_EQ(launcher.FlushToFile(file.fd()), 1);
  std::string text = file.Text();
  EXPECT_NE(text.find("Module Directory - /opt/corvale/\n"), std::string::npos) << text;
  EXPECT_EQ(ReadAll(ownFile), "") << "with the launcher present the program writes no file itself";
}

TEST(SharedLog, NoBufferToConnectLeavesTheLogAlone) {
  ScopedNamedObjectNamespace ns;
  ScopedCapture capture;
  EXPECT_FALSE(corvale::ConnectLogToSharedBuffer());
}

TEST(SharedLog, BufferPlantedByAnotherUserIsNeitherReadNorFilled) {
  CORVALE_REQUIRE_ROOT();
  ScopedNamedObjectNamespace ns;
  const std::string name = corvale::PosixObjectName(corvale::kSharedLogName);
  // Another user makes the buffer first, open to everybody, hoping to read the launcher's log.
  ASSERT_TRUE(corvale::test::RunAsOtherUser([&] {
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    bool ok = fd >= 0 && fchmod(fd, 0666) == 0 && ftruncate(fd, kSharedLogSize) == 0;
    if (fd >= 0) close(fd);
    return ok;
  }));
  {
    ScopedCapture capture;
    CFileMappingLog launcher(1);
    EXPECT_FALSE(launcher.IsOpen());
    CFileMappingLog writer(0);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Write("root's secret", 13), 0);
    EXPECT_FALSE(corvale::ConnectLogToSharedBuffer());
  }
  int fd = shm_open(name.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0) << "the other user's object is left where it was";
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_uid, corvale::test::kOtherUser);
  std::string head(16, 'x');
  ASSERT_EQ(pread(fd, head.data(), head.size(), 0), 16);
  EXPECT_EQ(head, std::string(16, '\0')) << "nothing of ours was written into it";
  close(fd);
  shm_unlink(name.c_str());
}
