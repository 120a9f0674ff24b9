// The way to a folder the program writes into, as root with user nobody as the attacker: links of
// root and of the user who asked are followed, a link of anybody else stops the walk and is named;
// missing folders are reported or made; files are made only where nothing stands, and replaced
// only by a rename. Also whose a file made for a person is, and with which modes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/FolderWalk.h"
#include "platform/OutputOwner.h"
#include "platform/RequestingUser.h"
#include "support/Fixtures.h"

using corvale::test::kOtherUser;
using corvale::test::RunAsOtherUser;
using corvale::test::ScopedEnv;
using platform::FolderWalk;
using platform::MissingFolders;
using platform::WalkToFolder;

namespace {

std::string Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameFolder(int fd, const std::string& path) {
  struct stat a {};
  struct stat b {};
  return fd >= 0 && fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// A place every user reaches: V is root's ("/etc"), H belongs to nobody (a home folder).
class Walk : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVALE_REQUIRE_ROOT();
    base = scratch.path();
    v = base + "/V";
    h = base + "/H";
    ASSERT_EQ(mkdir(v.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((v + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(h.c_str(), 0755), 0);
    ASSERT_EQ(chown(h.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(symlink(v.c_str(), (base + "/rootlink").c_str()), 0);
    ASSERT_EQ(symlink("loop", (base + "/loop").c_str()), 0);
    ASSERT_TRUE(RunAsOtherUser([&] {
      return symlink(v.c_str(), (h + "/out").c_str()) == 0 &&
             symlink("../V", (h + "/relative").c_str()) == 0 && mkdir((h + "/real").c_str(), 0755) == 0;
    }));
  }

  corvale::test::PublicScratchDir scratch;
  std::string base, v, h;
};

TEST_F(Walk, FollowsOnlyLinksOfRootAndOfTheUserWhoAsked) {
  const struct {
    const char* what;
    std::string path;
    const char* sudoUid;
    std::string reaches;  // empty: refused
    std::string refused;
  } cases[] = {
      {"root's link", base + "/rootlink", nullptr, v, ""},
      {"root's link, then a folder", base + "/rootlink/sub", nullptr, v + "/sub", ""},
      {"a folder of nobody's", h + "/real", nullptr, h + "/real", ""},
      {"nobody's link", h + "/out", nullptr, "", h + "/out"},
      {"nobody's link on the way", h + "/out/sub", nullptr, "", h + "/out"},
      {"nobody's relative link", h + "/relative/sub", nullptr, "", h + "/relative"},
      {"the link of the user who asked", h + "/out/sub", "65534", v + "/sub", ""},
      {"another user asked", h + "/out", "1", "", h + "/out"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv env({{"PKEXEC_UID", nullptr}, {"SUDO_UID", c.sudoUid}, {"SUDO_GID", nullptr}});
    for (MissingFolders missing : {MissingFolders::kFail, MissingFolders::kStop, MissingFolders::kMake}) {
      const FolderWalk walk = WalkToFolder(c.path, missing);
      if (c.reaches.empty()) {
        EXPECT_FALSE(walk.ok());
        EXPECT_EQ(walk.refusedLink, c.refused);
        EXPECT_EQ(walk.refusedLinkOwner, kOtherUser);
        EXPECT_NE(walk.Describe().find(c.refused + " is a link of user 65534"), std::string::npos)
            << walk.Describe();
      } else {
        EXPECT_TRUE(SameFolder(walk.fd.Get(), c.reaches)) << walk.Describe();
        EXPECT_FALSE(walk.RefusedALink());
      }
    }
  }
}

TEST_F(Walk, MissingFoldersAreReportedOrMadeAndOtherFailuresSaySo) {
  {
    const FolderWalk walk = WalkToFolder(h + "/real/a/b", MissingFolders::kStop);
    EXPECT_TRUE(SameFolder(walk.fd.Get(), h + "/real"));
    EXPECT_EQ(walk.missing, (std::vector<std::string>{"a", "b"}));
  }
  {
    const FolderWalk walk = WalkToFolder(h + "/real/a/b", MissingFolders::kFail);
    EXPECT_FALSE(walk.ok());
    EXPECT_EQ(walk.error, ENOENT);
  }
  {
    std::vector<std::string> made;
    const FolderWalk walk = WalkToFolder(v + "/new/deeper", MissingFolders::kMake, 0700,
                                         [&](int, const std::string& path) { made.push_back(path); });
    EXPECT_TRUE(SameFolder(walk.fd.Get(), v + "/new/deeper"));
    EXPECT_TRUE(walk.made);
    EXPECT_EQ(made, (std::vector<std::string>{v + "/new", v + "/new/deeper"}));
    struct stat st {};
    ASSERT_EQ(stat((v + "/new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  std::ofstream(v + "/file") << "x";
  const struct {
    std::string path;
    int error;
  } failures[] = {{base + "/loop", ELOOP}, {v + "/file/x", ENOTDIR}, {v + "/file", ENOTDIR}};
  for (const auto& f : failures) {
    const FolderWalk walk = WalkToFolder(f.path, MissingFolders::kMake);
    EXPECT_FALSE(walk.ok()) << f.path;
    EXPECT_EQ(walk.error, f.error) << f.path;
  }
  EXPECT_EQ(Text(v + "/file"), "x");
}

// What stands under a name, a link pointing nowhere included, is never written through: a new file
// is made only where nothing is, and a replacement goes in by a rename.
TEST_F(Walk, FilesAreMadeWhereNothingStandsAndReplacedByARename) {
  ASSERT_TRUE(RunAsOtherUser([&] {
    return symlink((v + "/victim").c_str(), (h + "/dangling").c_str()) == 0 &&
           symlink((v + "/kept").c_str(), (h + "/list").c_str()) == 0;
  }));
  std::ofstream(v + "/kept") << "root's";
  const FolderWalk walk = WalkToFolder(h, MissingFolders::kFail);
  ASSERT_TRUE(walk.ok());
  for (const char* name : {"dangling", "list"}) {
    EXPECT_EQ(platform::CreateFileIn(walk.fd.Get(), name, O_WRONLY, 0600), -1) << name;
    EXPECT_EQ(errno, EEXIST) << name;
    EXPECT_TRUE(platform::EntryExistsIn(walk.fd.Get(), name)) << name;
  }
  EXPECT_FALSE(platform::EntryExistsIn(walk.fd.Get(), "nothing"));
  ASSERT_TRUE(platform::ReplaceFileIn(walk.fd.Get(), "list", "new list\r\n", 0600, kOtherUser, kOtherUser));
  struct stat st {};
  ASSERT_EQ(lstat((h + "/list").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_uid, kOtherUser);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Text(h + "/list"), "new list\r\n");
  EXPECT_EQ(Text(v + "/kept"), "root's");
  ASSERT_TRUE(platform::RemoveEntryIn(walk.fd.Get(), "dangling"));
  EXPECT_FALSE(platform::EntryExistsIn(walk.fd.Get(), "dangling"));
  struct stat none {};
  EXPECT_NE(lstat((v + "/victim").c_str(), &none), 0);
  // No temporary file is left: H holds out, relative, real and list; V holds sub and kept.
  int entries = 0;
  for (const std::string& folder : {h, v})
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++entries;
  EXPECT_EQ(entries, 4 + 2);
}

// Whose a file made for a person is, by the folder it is made in: a user's folder gives it to that
// user; a folder of root's and a folder made here, to the user who asked. Only a shared folder
// (group-writable, not by everybody, or set-gid) passes its group bits on.
TEST(OutputOwner, ThePersonWhoAskedGetsPrivateModesUnlessTheFolderIsShared) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: only root gives files away";
  const struct {
    const char* what;
    uid_t owner;
    mode_t folder;
    uid_t uid;
    mode_t file;
    mode_t made;
  } cases[] = {
      {"a user's private folder", kOtherUser, 040700, kOtherUser, 0600, 0700},
      {"a user's readable folder", kOtherUser, 040755, kOtherUser, 0600, 0700},
      {"readable by its group", kOtherUser, 040750, kOtherUser, 0600, 0700},
      {"a group's folder", kOtherUser, 040770, kOtherUser, 0660, 0770},
      {"group-writable, readable by all", kOtherUser, 040775, kOtherUser, 0660, 0770},
      {"set-gid, readable by its group", kOtherUser, 042750, kOtherUser, 0640, 02750},
      {"writable by everybody (/tmp)", kOtherUser, 041777, kOtherUser, 0600, 0700},
      {"root's shared place", 0, 040755, kOtherUser, 0600, 0700},
  };
  ScopedEnv env({{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", "65534"}});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    struct stat folder {};
    folder.st_uid = c.owner;
    folder.st_gid = c.owner;
    folder.st_mode = c.folder;
    const platform::OutputOwner owner = platform::OutputOwner::ForFolder(folder);
    EXPECT_EQ(owner.uid, c.uid);
    EXPECT_EQ(owner.fileMode, c.file);
    EXPECT_EQ(owner.folderMode, c.made);
    EXPECT_TRUE(owner.give);
  }
  const platform::OutputOwner madeHere = platform::OutputOwner::ForFolderMadeHere();
  EXPECT_EQ(madeHere.uid, kOtherUser);
  EXPECT_EQ(madeHere.gid, kOtherUser);
  EXPECT_EQ(madeHere.fileMode, 0600u);
  EXPECT_EQ(madeHere.folderMode, 0700u);
}

// Root reads for a person only what the person could read.
TEST(RequestingUser, MayReadByOwnerGroupAndOtherBits) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: without raised rights every file counts as readable";
  const struct {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool readable;
  } cases[] = {{kOtherUser, 0, 0400, true}, {kOtherUser, 0, 0044, false}, {0, 0, 0600, false},
               {0, 0, 0604, true},          {0, kOtherUser, 0640, true},  {0, 0, 0640, false}};
  {
    ScopedEnv env({{"PKEXEC_UID", nullptr}, {"SUDO_UID", "65534"}, {"SUDO_GID", "65534"}});
    for (const auto& c : cases) {
      struct stat st {};
      st.st_uid = c.uid;
      st.st_gid = c.gid;
      st.st_mode = 0100000 | c.mode;
      EXPECT_EQ(platform::RequestingUserMayRead(st), c.readable) << c.uid << " " << c.gid << " " << c.mode;
    }
  }
  ScopedEnv nobodyAsked({{"PKEXEC_UID", nullptr}, {"SUDO_UID", nullptr}, {"SUDO_GID", nullptr}});
  struct stat secret {};
  secret.st_mode = 0100600;
  EXPECT_TRUE(platform::RequestingUserMayRead(secret)) << "root ran it for itself";
}

}  // namespace
