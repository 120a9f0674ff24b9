#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/NamedEvent.h"
#include "platform/NamedMutex.h"
#include "platform/NamedObjects.h"
#include "platform/SharedMemory.h"
#include "support/Fixtures.h"
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
  const std::string uid = "." + std::to_string(geteuid());
  EXPECT_EQ(corvale::PosixObjectName("Vy_{x}"), "/" + ns.Tag() + ".Vy_{x}" + uid)
      << "the effective uid keeps the objects of two users apart";
  EXPECT_EQ(corvale::PosixObjectName("a/b"), "");
  EXPECT_EQ(corvale::PosixObjectName(""), "");
  EXPECT_EQ(corvale::PosixObjectName(std::string(300, 'x')), "");
  setenv("CORVALE_NAMESPACE", "../escape", 1);
  EXPECT_EQ(corvale::PosixObjectName("Vy"), "/Vy" + uid) << "a tag that is not plain is ignored";
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

// ---- Objects another user made first ----

namespace {

// What another user leaves under one of our names: a shared-memory object of `size` bytes, filled
// with 'x', with permissions `mode`. Made by a child running as that user; true when it was made.
bool PlantAsOtherUser(const std::string& posixName, size_t size, mode_t mode) {
  return corvale::test::RunAsOtherUser([&] {
    int fd = shm_open(posixName.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0 || fchmod(fd, mode) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
    std::string fill(size, 'x');
    bool ok = write(fd, fill.data(), fill.size()) == static_cast<ssize_t>(fill.size());
    close(fd);
    return ok;
  });
}

struct ObjectState {
  bool exists = false;
  uid_t owner = 0;
  off_t size = 0;
  std::string bytes;
};

ObjectState StateOf(const std::string& posixName) {
  ObjectState state;
  int fd = shm_open(posixName.c_str(), O_RDONLY, 0);
  if (fd < 0) return state;
  struct stat st {};
  if (fstat(fd, &st) == 0) {
    state.exists = true;
    state.owner = st.st_uid;
    state.size = st.st_size;
    state.bytes.resize(static_cast<size_t>(st.st_size));
    if (pread(fd, state.bytes.data(), state.bytes.size(), 0) < 0) state.bytes.clear();
  }
  close(fd);
  return state;
}

}  // namespace

TEST(NamedObjectsOfOthers, PlantedObjectIsRefusedAndLeftAsItWas) {
  CORVALE_REQUIRE_ROOT();
  struct Case {
    const char* name;
    mode_t mode;
    size_t size;
  };
  // The log buffer's size, a semaphore's, and a size that a shrinking attacker would leave.
  const Case cases[] = {{"open to everybody, right size", 0666, 8192},
                        {"private to its maker", 0600, 8192},
                        {"shrunk to nothing", 0666, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedNamedObjectNamespace ns;
    const std::string name = corvale::PosixObjectName("Vy_planted");
    ASSERT_TRUE(PlantAsOtherUser(name, c.size, c.mode));
    const ObjectState before = StateOf(name);
    ASSERT_TRUE(before.exists);

    SharedMemory::Failure failure = SharedMemory::Failure::None;
    EXPECT_FALSE(SharedMemory::Create("Vy_planted", 8192, &failure))
        << "another user's object is not taken over";
    EXPECT_EQ(failure, SharedMemory::Failure::Refused);
    EXPECT_FALSE(SharedMemory::Open("Vy_planted", 8192, &failure)) << "nor read";
    EXPECT_EQ(failure, SharedMemory::Failure::Refused);
    EXPECT_FALSE(NamedEvent::CreateNew("Vy_planted"));
    EXPECT_FALSE(NamedEvent::Open("Vy_planted"));

    const ObjectState after = StateOf(name);
    EXPECT_TRUE(after.exists);
    EXPECT_EQ(after.owner, corvale::test::kOtherUser);
    EXPECT_EQ(after.size, before.size);
    EXPECT_EQ(after.bytes, before.bytes);
    shm_unlink(name.c_str());
  }
}

TEST(NamedObjectsOfOthers, AnotherUserCannotOpenOrShrinkOurObjects) {
  CORVALE_REQUIRE_ROOT();
  ScopedNamedObjectNamespace ns;
  auto memory = SharedMemory::Create("Vy_ours", 8192);
  ASSERT_TRUE(memory);
  auto event = NamedEvent::CreateNew("QBX_Crash_ours");
  ASSERT_TRUE(event);
  std::memcpy(memory->Data(), "root's log", 10);
  const std::string names[] = {corvale::PosixObjectName("Vy_ours"),
                               corvale::PosixObjectName("QBX_Crash_ours")};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(corvale::test::RunAsOtherUser([&] {
      // Neither reading nor truncating (which would kill the writer with SIGBUS) is possible.
      int fd = shm_open(name.c_str(), O_RDONLY, 0);
      int fdw = shm_open(name.c_str(), O_RDWR, 0);
      return fd < 0 && errno == EACCES && fdw < 0 && shm_unlink(name.c_str()) != 0;
    }));
  }
  EXPECT_EQ(std::memcmp(memory->Data(), "root's log", 10), 0);
  EXPECT_EQ(StateOf(names[0]).size, 8192);
  EXPECT_TRUE(event->Set());
  EXPECT_TRUE(event->TryWait()) << "the event still works";
}

TEST(NamedObjectsOfOthers, ObjectOpenToOthersOrOfAnotherSizeIsRefused) {
  ScopedNamedObjectNamespace ns;
  auto memory = SharedMemory::Create("Vy_mode", 8192);
  ASSERT_TRUE(memory);
  const std::string name = corvale::PosixObjectName("Vy_mode");
  SharedMemory::Failure failure = SharedMemory::Failure::None;
  EXPECT_FALSE(SharedMemory::Open("Vy_mode", 4096, &failure)) << "larger than expected";
  EXPECT_EQ(failure, SharedMemory::Failure::Map);
  int fd = shm_open(name.c_str(), O_RDWR, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0644), 0);
  EXPECT_FALSE(SharedMemory::Open("Vy_mode", 8192, &failure)) << "readable by others";
  EXPECT_EQ(failure, SharedMemory::Failure::Refused);
  ASSERT_EQ(fchmod(fd, 0600), 0);
  close(fd);
  EXPECT_TRUE(SharedMemory::Open("Vy_mode", 8192));
}

TEST(NamedObjectsOfOthers, OwnLeftoverOfACrashedCreatorIsReplaced) {
  ScopedNamedObjectNamespace ns;
  const std::string name = corvale::PosixObjectName("Vy_left");
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100), 0);
  close(fd);
  auto memory = SharedMemory::Create("Vy_left", 8192);
  ASSERT_TRUE(memory);
  EXPECT_EQ(StateOf(name).size, 8192);
  auto older = SharedMemory::Create("Vy_left", 8192);
  ASSERT_TRUE(older) << "a second creator replaces the first one's object";
  memory.reset();
  EXPECT_TRUE(SharedMemory::Open("Vy_left", 8192))
      << "the first creator leaves the newer object's name alone";
}

// ---- The folder of the lock files ----

namespace {

// A stand-in for "/" with the given folders (name, mode, owner) made in order.
struct FakeRoot {
  std::string root = corvale::test::ScratchDir();
  void Folder(const std::string& path, mode_t mode, uid_t owner = 0) {
    std::string full = root + path;
    mkdir(full.c_str(), mode);
    chmod(full.c_str(), mode);
    if (chown(full.c_str(), owner, owner) != 0) ADD_FAILURE() << "chown " << full;
  }
};

}  // namespace

TEST(NamedObjectFolder, RootsLocksLiveInAFolderOnlyRootCanReach) {
  CORVALE_REQUIRE_ROOT();
  struct Case {
    const char* name;
    std::function<void(FakeRoot&)> prepare;
    bool usable;
    const char* problem;
  };
  const Case cases[] = {
      {"made when missing", [](FakeRoot& f) { f.Folder("/run", 0755); }, true, ""},
      {"made first by another user",
       [](FakeRoot& f) {
         f.Folder("/run", 0755);
         f.Folder("/run/corvale", 0700, corvale::test::kOtherUser);
       },
       false, "belongs to user 65534"},
      {"open to others",
       [](FakeRoot& f) {
         f.Folder("/run", 0755);
         f.Folder("/run/corvale", 0755);
       },
       false, "open to other users"},
      {"a link in its place",
       [](FakeRoot& f) {
         f.Folder("/run", 0755);
         f.Folder("/elsewhere", 0700);
         symlink((f.root + "/elsewhere").c_str(), (f.root + "/run/corvale").c_str());
       },
       false, "not a folder"},
      {"in a /run that everybody can write", [](FakeRoot& f) { f.Folder("/run", 0777); }, false,
       "only root can change"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRoot fake;
    c.prepare(fake);
    std::string problem;
    std::string dir = corvale::ChooseNamedObjectFolder(0, "/run/user/0", fake.root, &problem);
    if (c.usable) {
      EXPECT_EQ(dir, fake.root + "/run/corvale") << "XDG_RUNTIME_DIR is not used by root";
      struct stat st {};
      ASSERT_EQ(lstat(dir.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0700u);
      EXPECT_EQ(st.st_uid, 0u);
    } else {
      EXPECT_EQ(dir, "");
      EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
    }
  }
  if (geteuid() == 0) {
    EXPECT_EQ(corvale::NamedObjectFolder(), "/run/corvale");
  }
}

TEST(NamedObjectFolder, OtherUsersFolderUnderTmpMustBeTheirOwn) {
  CORVALE_REQUIRE_ROOT();
  const uid_t user = corvale::test::kOtherUser;
  FakeRoot fake;
  fake.Folder("/tmp", 01777);
  fake.Folder("/tmp/corvale-" + std::to_string(user), 0700, user);
  std::string problem;
  EXPECT_EQ(corvale::ChooseNamedObjectFolder(user, nullptr, fake.root, &problem),
            fake.root + "/tmp/corvale-" + std::to_string(user))
      << problem;
  FakeRoot planted;
  planted.Folder("/tmp", 01777);
  planted.Folder("/tmp/corvale-" + std::to_string(user), 0700, 0);
  EXPECT_EQ(corvale::ChooseNamedObjectFolder(user, nullptr, planted.root, &problem), "");
  EXPECT_NE(problem.find("belongs to user 0"), std::string::npos) << problem;
}
