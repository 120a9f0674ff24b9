// The crash path of the main program: dump names, and what running out of memory during a
// recovery tells the user and the launcher.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/CrashFilter.h"
#include "core/FileRecoverer.h"
#include "core/RecoveryHelpers.h"
#include "platform/Allocation.h"
#include "platform/LauncherProtocol.h"
#include "platform/NamedEvent.h"
#include "platform/RecoveryContext.h"
#include "platform/StringTable.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"
#include "support/NamedObjectNamespace.h"
#include "ui/MessageBox.h"

using namespace recoverytest;

namespace {

TEST(CrashDump, TheNextDumpKeepsTheEarlierOnes) {
  const std::string folder = corvale::test::ScratchDir() + "/";
  EXPECT_EQ(corvale::app::NextDumpPath(folder), folder + "Qbxdump0.dmp");
  WriteWholeFile(folder + "Qbxdump0.dmp", "old");
  WriteWholeFile(folder + "Qbxdump1.dmp", "old");
  EXPECT_EQ(corvale::app::NextDumpPath(folder), folder + "Qbxdump2.dmp");
  EXPECT_EQ(corvale::app::NextDumpPath(""), "");
}

// The piece buffer of a recovery is 64 KiB; smaller blocks are still given.
void* FailLargeBlocks(size_t size) { return size >= 65536 ? nullptr : std::malloc(size); }

struct MemoryCase {
  const char* label;
  bool recoverRawFiles;
  const char* boxText;  // how the box's text begins
};

// In the death test's process: a recovery whose piece buffer cannot be had.
void RecoverWithoutMemory(bool recoverRawFiles) {
  corvale::app::InstallCrashFilter(corvale::test::ScratchDir());
  GetRecoveryContext().RecoverRawFiles = recoverRawFiles ? 1 : 0;
  corvale::ui::SetMessageBoxHandler(
      [](const std::string& text, const std::string&, corvale::ui::MessageIcon) {
        std::fprintf(stderr, "BOX:%s\n", text.c_str());
      });
  MemoryDevice device(PatternBytes(2 * 1024 * 1024), 512);
  TreeOwner tree;
  tree.root = treetest::MakePartition("D:", 3, 64, 2);
  AddFile(tree.root, "big.bin", 200 * 1024, {{600, 200}});
  CheckAll(tree.root);
  std::string target = corvale::test::ScratchDir() + "/target", top;
  // Without a window framework the box is shown by the thread that ran out of memory.
  CFileRecoverer recoverer;
  platform::SetRawAllocatorForTesting(&FailLargeBlocks);
  recoverer.RecoverFilesInThread(&device, nullptr, tree.root, target.c_str(), &top);
  std::_Exit(0);
}

class OutOfMemoryDuringRecovery : public ::testing::TestWithParam<MemoryCase> {};

// A recovery that cannot get its buffer does not crash: the user is told (with RAW recovery on, to
// untick it), the launcher's event is set, and the program ends with the out-of-memory status.
TEST_P(OutOfMemoryDuringRecovery, TellsTheUserAndTheLauncher) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The death test's process runs this body again up to the statement; it keeps the namespace it
  // inherits and the events the launcher's side made.
  const bool inChild = !GTEST_FLAG_GET(internal_run_death_test).empty();
  std::optional<corvale::test::ScopedNamedObjectNamespace> ns;
  std::unique_ptr<corvale::NamedEvent> crash, memoryCrash;
  if (!inChild) {
    ns.emplace();
    crash = corvale::NamedEvent::CreateNew(corvale::kCrashEventName);
    memoryCrash = corvale::NamedEvent::CreateNew(corvale::kMemoryCrashEventName);
    ASSERT_TRUE(crash && memoryCrash);
  }
  const MemoryCase& c = GetParam();
  EXPECT_EXIT(RecoverWithoutMemory(c.recoverRawFiles),
              ::testing::ExitedWithCode(platform::kOutOfMemoryExitCode), std::string("BOX:") + c.boxText);
  corvale::NamedEvent* set = c.recoverRawFiles ? memoryCrash.get() : crash.get();
  corvale::NamedEvent* unset = c.recoverRawFiles ? crash.get() : memoryCrash.get();
  EXPECT_TRUE(set->TryWait());
  EXPECT_FALSE(unset->TryWait());
}

INSTANTIATE_TEST_SUITE_P(
    RawOption, OutOfMemoryDuringRecovery,
    ::testing::Values(MemoryCase{"RawOn", true, "Failed to allocate the memory. Please untick"},
                      MemoryCase{"RawOff", false,
                                 "Corvale Hard Drive Data Recovery has encountered a memory problem"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OutOfMemory, TheMessageDependsOnRawRecovery) {
  EXPECT_EQ(corvale::app::OutOfMemoryMessageId(true), 61240u);
  EXPECT_EQ(corvale::app::OutOfMemoryMessageId(false), 307u);
}

}  // namespace
