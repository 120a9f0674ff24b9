#include <chrono>
#include <cstring>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"
#include "platform/NamedObjects.h"
#include "platform/SharedMemory.h"
#include "support/NamedObjectNamespace.h"

using corvale::NamedEvent;
using corvale::NamedMutex;
using corvale::SharedMemory;
using corvale::test::ScopedNamedObjectNamespace;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kName = "CORVALETARN0_Mutex_482913_Halvern";

// Runs `body` in a child process that then waits to be killed; returns its pid once the body is done.
template <typename Body>
pid_t ChildThatHolds(Body body) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    body();
    char c = 1;
    if (write(ready[1], &c, 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char c = 0;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  return pid;
}

void KillAndReap(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

TEST(NamedObjectNames, TagFromTheEnvironmentGoesInFrontOfEveryName) {
  ScopedNamedObjectNamespace ns;
  EXPECT_EQ(corvale::PosixObjectName("Vy_{x}"), "/" + ns.Tag() + ".Vy_{x}");
  EXPECT_EQ(corvale::PosixObjectName("a/b"), "");
  EXPECT_EQ(corvale::PosixObjectName(""), "");
  EXPECT_EQ(corvale::PosixObjectName(std::string(300, 'x')), "");
  setenv("CORVALE_NAMESPACE", "../escape", 1);
  EXPECT_EQ(corvale::PosixObjectName("Vy"), "/Vy") << "a tag that is not plain is ignored";
}

TEST(NamedObjectNames, LockFolderIsPrivateToTheUser) {
  std::string dir = corvale::NamedObjectFolder();
  ASSERT_FALSE(dir.empty());
  struct stat st {};
  ASSERT_EQ(lstat(dir.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);
  EXPECT_EQ(st.st_uid, geteuid());
}

TEST(NamedMutex, SecondOwnerSeesThatItExists) {
  ScopedNamedObjectNamespace ns;
  EXPECT_FALSE(NamedMutex::Exists(kName));
  auto first = std::make_unique<NamedMutex>(kName, true);
  ASSERT_TRUE(first->IsValid());
  EXPECT_TRUE(first->Owned());
  EXPECT_FALSE(first->AlreadyExisted());
  EXPECT_TRUE(NamedMutex::Exists(kName));

  NamedMutex second(kName, true);
  EXPECT_FALSE(second.Owned());
  EXPECT_TRUE(second.AlreadyExisted());

  NamedMutex probe(kName, false);
  EXPECT_TRUE(probe.AlreadyExisted());
  EXPECT_FALSE(probe.Owned());

  first.reset();
  EXPECT_FALSE(NamedMutex::Exists(kName)) << "closing the owner's handle ends the mutex";
  NamedMutex third(kName, true);
  EXPECT_TRUE(third.Owned());
}

TEST(NamedMutex, OpeningWithoutOwnershipLeavesItFreeForAnOwner) {
  ScopedNamedObjectNamespace ns;
  NamedMutex plain(kName, false);
  EXPECT_FALSE(plain.AlreadyExisted());
  EXPECT_FALSE(NamedMutex::Exists(kName));
  NamedMutex owner(kName, true);
  EXPECT_TRUE(owner.Owned());
}

TEST(NamedMutex, OwnerThatDiesReleasesIt) {
  ScopedNamedObjectNamespace ns;
  pid_t child = ChildThatHolds([] {
    static NamedMutex held(kName, true);
    if (!held.Owned()) _exit(3);
  });
  ASSERT_GT(child, 0);
  EXPECT_TRUE(NamedMutex::Exists(kName));
  NamedMutex refused(kName, true);
  EXPECT_TRUE(refused.AlreadyExisted());
  KillAndReap(child);
  EXPECT_FALSE(NamedMutex::Exists(kName));
  NamedMutex taken(kName, true);
  EXPECT_TRUE(taken.Owned());
}

TEST(NamedMutex, LockWaitsNoLongerThanItsTimeOut) {
  ScopedNamedObjectNamespace ns;
  NamedMutex a(kName, false);
  NamedMutex b(kName, false);
  ASSERT_TRUE(a.Lock(0));
  auto start = Clock::now();
  EXPECT_FALSE(b.Lock(60));
  auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(60));
  EXPECT_LT(waited, std::chrono::seconds(5));
  a.Unlock();
  EXPECT_TRUE(b.Lock(60));
  b.Unlock();
}

TEST(NamedMutex, ThreadsSharingOneObjectExcludeEachOther) {
  ScopedNamedObjectNamespace ns;
  NamedMutex shared(kName, false);
  ASSERT_TRUE(shared.Lock(0));
  bool otherGotIt = true;
  std::thread other([&] { otherGotIt = shared.Lock(50); });
  other.join();
  EXPECT_FALSE(otherGotIt);
  shared.Unlock();
  std::thread again([&] {
    otherGotIt = shared.Lock(50);
    if (otherGotIt) shared.Unlock();
  });
  again.join();
  EXPECT_TRUE(otherGotIt);
}

TEST(NamedEvent, SignalWakesOneWaitOnly) {
  ScopedNamedObjectNamespace ns;
  auto created = NamedEvent::CreateNew("QBX_Crash_{FC1A0E29-3523-4152-B110-3340363E5DB7}");
  ASSERT_TRUE(created);
  auto opened = NamedEvent::Open("QBX_Crash_{FC1A0E29-3523-4152-B110-3340363E5DB7}");
  ASSERT_TRUE(opened);
  EXPECT_FALSE(created->TryWait());
  EXPECT_TRUE(opened->Set());
  EXPECT_TRUE(opened->Set());
  EXPECT_TRUE(created->TryWait());
  EXPECT_FALSE(created->TryWait()) << "an auto-reset event holds one signal however often it is set";
  auto start = Clock::now();
  EXPECT_FALSE(created->Wait(40));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  opened->Set();
  EXPECT_TRUE(created->Wait(1000));
}

TEST(NamedEvent, MadeAnewWithoutAnOldSignalAndGoneWithItsCreator) {
  ScopedNamedObjectNamespace ns;
  const char* name = "QBX_Memory_Crash_{c3d61a40-a3e6-402b-b373-fd90d30893c8}";
  EXPECT_FALSE(NamedEvent::Open(name)) << "the main program never creates the event itself";
  auto stale = NamedEvent::CreateNew(name);
  ASSERT_TRUE(stale);
  stale->Set();
  auto fresh = NamedEvent::CreateNew(name);
  ASSERT_TRUE(fresh);
  EXPECT_FALSE(fresh->TryWait());
  fresh.reset();
  EXPECT_FALSE(NamedEvent::Open(name));
}

TEST(SharedMemory, BothSidesSeeTheSameBytes) {
  ScopedNamedObjectNamespace ns;
  auto created = SharedMemory::Create("Vy_test", 8192);
  ASSERT_TRUE(created);
  auto opened = SharedMemory::Open("Vy_test", 8192);
  ASSERT_TRUE(opened);
  std::memcpy(created->Data() + 4000, "corvale", 7);
  EXPECT_EQ(std::memcmp(opened->Data() + 4000, "corvale", 7), 0);
}

TEST(SharedMemory, OpenRefusesAnObjectShorterThanExpected) {
  ScopedNamedObjectNamespace ns;
  auto created = SharedMemory::Create("Vy_test", 4096);
  ASSERT_TRUE(created);
  SharedMemory::Failure failure = SharedMemory::Failure::None;
  EXPECT_FALSE(SharedMemory::Open("Vy_test", 8192, &failure));
  EXPECT_EQ(failure, SharedMemory::Failure::Map);
  created.reset();
  EXPECT_FALSE(SharedMemory::Open("Vy_test", 4096, &failure)) << "the creator removes the name";
  EXPECT_EQ(failure, SharedMemory::Failure::Create);
}
