// What root loads, runs or reads from the programs' folder, and the files the environment names:
// only root's, closed to others, checked on the opened file. User nobody plays the one who planted
// a file in a root-owned 0755 folder.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/DiskCatalogue.h"
#include "platform/Language.h"
#include "platform/Log.h"
#include "platform/Registry.h"
#include "platform/TrustedFile.h"
#include "support/Fixtures.h"
#include "support/Programs.h"
#include "support/StandInOpener.h"

namespace fs = std::filesystem;
using corvale::test::kOtherUser;

namespace {

// A file of `text` at `path` with `mode`, owned by `uid`.
std::string Plant(const std::string& path, const std::string& text, mode_t mode, uid_t uid = 0) {
  std::ofstream(path, std::ios::binary) << text;
  ::chmod(path.c_str(), mode);
  ::chown(path.c_str(), uid, uid);
  return path;
}

// A root-owned 0755 folder, as the programs' folder is.
std::string RootFolder() {
  const std::string dir = corvale::test::ScratchDir() + "/programs";
  fs::create_directories(dir);
  ::chmod(dir.c_str(), 0755);
  return dir;
}

TEST(TrustedFile, AsRootOnlyRootsFilesClosedToOthersAreOpened) {
  CORVALE_REQUIRE_ROOT();
  const std::string dir = RootFolder();
  ::mkfifo((dir + "/fifo").c_str(), 0644);
  fs::create_directory(dir + "/folder");
  struct Case {
    std::string path;
    bool taken;
    const char* reason;
  } cases[] = {
      {Plant(dir + "/root-0644", "x", 0644), true, ""},
      {Plant(dir + "/root-0755", "x", 0755), true, ""},
      {Plant(dir + "/root-0664", "x", 0664), false, "its group or other users may write it"},
      {Plant(dir + "/root-0606", "x", 0606), false, "its group or other users may write it"},
      {Plant(dir + "/nobody-0644", "x", 0644, kOtherUser), false, "belongs to user 65534"},
      {dir + "/fifo", false, "not a regular file"},
      {dir + "/folder", false, "not a regular file"},
  };
  for (const Case& c : cases) {
    corvale::log::ScopedCapture log;
    std::string why;
    const int fd = platform::OpenTrustedFile(c.path, &why);
    EXPECT_EQ(fd >= 0, c.taken) << c.path;
    if (fd >= 0) ::close(fd);
    if (!c.taken) {
      EXPECT_NE(why.find(c.reason), std::string::npos) << c.path << ": " << why;
      EXPECT_TRUE(log.HasPart(c.path + " is not used: ")) << c.path;
    }
  }
  // In a folder, a link is refused even to one of root's own files.
  ::symlink((dir + "/root-0644").c_str(), (dir + "/link").c_str());
  const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  std::string why;
  EXPECT_LT(platform::OpenTrustedFileAt(folder, "link", dir + "/link", &why), 0);
  EXPECT_EQ(why, "it is a link");
  const int fd = platform::OpenTrustedFileAt(folder, "root-0644", dir + "/root-0644", &why);
  EXPECT_GE(fd, 0);
  ::close(fd);
  EXPECT_LT(platform::OpenTrustedFileAt(folder, "../programs/root-0644", "", &why), 0);
  ::close(folder);
  // A missing file is no refusal: nothing is logged.
  corvale::log::ScopedCapture log;
  EXPECT_LT(platform::OpenTrustedFile(dir + "/missing", &why), 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(log.Texts().empty());

  // Not as root, anybody's regular file is read (in a folder that user can reach: the build folder
  // may be where only root can go).
  corvale::test::PublicScratchDir reachable;
  const std::string nobodys = Plant(reachable.path() + "/nobody-0666", "x", 0666, kOtherUser);
  EXPECT_TRUE(corvale::test::RunAsOtherUser([&] {
    std::string reason;
    const int opened = platform::OpenTrustedFile(nobodys, &reason);
    if (opened >= 0) ::close(opened);
    return opened >= 0;
  }));
}

TEST(TrustedFile, FoldersTheProgramsReadFromMustBeRootsAndClosed) {
  CORVALE_REQUIRE_ROOT();
  const std::string base = RootFolder();
  struct Case {
    const char* name;
    mode_t mode;
    uid_t owner;
    bool taken;
  } cases[] = {{"root-0755", 0755, 0, true},
               {"root-0775", 0775, 0, false},
               {"root-1777", 01777, 0, false},
               {"nobody-0755", 0755, kOtherUser, false}};
  for (const Case& c : cases) {
    const std::string dir = base + "/" + c.name;
    fs::create_directory(dir);
    ::chmod(dir.c_str(), c.mode);
    ::chown(dir.c_str(), c.owner, c.owner);
    std::string why;
    const int fd = platform::OpenTrustedFolder(dir, &why);
    EXPECT_EQ(fd >= 0, c.taken) << c.name << ": " << why;
    if (fd >= 0) ::close(fd);
  }
}

// The usage library, made at test time: its constructor leaves a mark, so being loaded shows.
TEST(TrustedFile, AUsageLibraryOfAnotherUserIsNeverLoaded) {
  CORVALE_REQUIRE_ROOT();
  if (!corvale::test::HaveTool("cc")) GTEST_SKIP() << "needs a C compiler (build-essential)";
  const std::string dir = RootFolder();
  const std::string marks = dir + "/marks";
  fs::create_directory(marks);
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    bool loaded;
  } cases[] = {{"root", 0, 0644, true}, {"nobody", kOtherUser, 0644, false}, {"writable", 0, 0666, false}};
  for (const Case& c : cases) {
    const std::string folder = dir + "/" + c.name;
    fs::create_directory(folder);
    const std::string source = folder + "/tally.c";
    std::ofstream(source) << "#include <stdio.h>\n"
                             "__attribute__((constructor)) static void Loaded(void) {\n"
                             "  FILE* f = fopen(\""
                          << marks << "/" << c.name
                          << "\", \"w\"); if (f) fclose(f);\n}\n"
                             "void* GetTallyeye(void) { return 0; }\n";
    const std::string library = folder + "/libTallyeye.so";
    ASSERT_EQ(corvale::test::RunCommand("cc -shared -fPIC -o '" + library + "' '" + source + "'"), 0);
    ::chmod(library.c_str(), c.mode);
    ::chown(library.c_str(), c.owner, c.owner);
    corvale::log::ScopedCapture log;
    std::string why;
    void* handle = platform::LoadTrustedLibrary(library, RTLD_NOW | RTLD_LOCAL, &why);
    EXPECT_EQ(handle != nullptr, c.loaded) << c.name << ": " << why;
    EXPECT_EQ(fs::exists(marks + "/" + c.name), c.loaded) << c.name;
    if (handle) {
      EXPECT_NE(::dlsym(handle, "GetTallyeye"), nullptr);
    } else {
      EXPECT_TRUE(log.HasPart(library + " is not used: ")) << c.name;
    }
  }
}

TEST(TrustedFile, OnlyRootsProgramsAreStartedAndFromTheCheckedFile) {
  CORVALE_REQUIRE_ROOT();
  const std::string dir = RootFolder();
  struct Case {
    const char* name;
    uid_t owner;
    mode_t mode;
    bool detach;
    bool started;
  } cases[] = {{"root-script", 0, 0755, false, true},
               {"root-detached", 0, 0755, true, true},
               {"nobody-script", kOtherUser, 0755, false, false},
               {"group-writable", 0, 0775, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string mark = dir + "/" + c.name + ".ran";
    const std::string program =
        Plant(dir + "/" + c.name, "#!/bin/sh\necho \"$0 $1 $MARK\" > '" + mark + "'\n", c.mode, c.owner);
    corvale::log::ScopedCapture log;
    std::string why;
    const pid_t pid = platform::StartTrustedProgram(program, {"name0", "one"}, {"MARK=env"}, c.detach, &why);
    EXPECT_EQ(pid >= 0, c.started) << why;
    if (pid > 0) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    if (c.started) {
      EXPECT_TRUE(
          corvale::test::WaitUntil([&] { return fs::exists(mark) && fs::file_size(mark) > 0; }, 10000));
      // A script reads itself through the descriptor; its own name comes from the system.
      EXPECT_NE(corvale::test::ReadFileText(mark).find(" one env"), std::string::npos);
    } else {
      usleep(200 * 1000);
      EXPECT_FALSE(fs::exists(mark));
      EXPECT_TRUE(log.HasPart(program + " is not used: "));
    }
  }
  std::string why;
  EXPECT_LT(platform::StartTrustedProgram(dir + "/missing", {}, {}, false, &why), 0);
  // A file that cannot run is told, not taken as started.
  const std::string broken = Plant(dir + "/broken", "#!/nonexistent/interpreter\n", 0755);
  EXPECT_LT(platform::StartTrustedProgram(broken, {}, {}, true, &why), 0);
  EXPECT_NE(why.find("cannot run"), std::string::npos) << why;
}

TEST(TrustedFile, ATranslationOfAnotherUserIsNotRead) {
  CORVALE_REQUIRE_ROOT();
  const std::string dir = RootFolder() + "/";
  Plant(dir + "Deutsch.txt", "346\tCorvale Datenrettung\n", 0644);
  auto table = corvale::LoadLanguageTable(3, dir);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->Get(346), "Corvale Datenrettung");
  ::chown((dir + "Deutsch.txt").c_str(), kOtherUser, kOtherUser);
  corvale::log::ScopedCapture log;
  EXPECT_EQ(corvale::LoadLanguageTable(3, dir), nullptr);
  EXPECT_TRUE(log.HasPart("Deutsch.txt is not used: it belongs to user 65534"));
}

TEST(TrustedFile, TheSettingsFileNamedByTheEnvironmentOnlyWhenNobodyElseCanChangeIt) {
  CORVALE_REQUIRE_ROOT();
  const std::string dir = RootFolder();
  const std::string open = dir + "/open";
  fs::create_directory(open);
  ::chmod(open.c_str(), 01777);
  const std::string theirs = dir + "/theirs";
  fs::create_directory(theirs);
  ::chown(theirs.c_str(), kOtherUser, kOtherUser);
  ::symlink((dir + "/root.ini").c_str(), (dir + "/link.ini").c_str());
  struct Case {
    std::string path;
    bool taken;
  } cases[] = {
      {Plant(dir + "/root.ini", "[a]\n", 0644), true},
      {dir + "/missing.ini", true},  // root makes it, in a folder nobody else may change
      {dir + "/new/folders/missing.ini", true},
      {theirs + "/new/missing.ini", false},
      {Plant(dir + "/nobody.ini", "[a]\n", 0644, kOtherUser), false},
      {Plant(dir + "/writable.ini", "[a]\n", 0666), false},
      {dir + "/link.ini", false},
      {Plant(theirs + "/root.ini", "[a]\n", 0644), false},
      {open + "/missing.ini", false},  // another user could make it first
      {"relative.ini", false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(platform::IsPathClosedToOthers(c.path, &why), c.taken) << c.path << ": " << why;
    corvale::test::ScopedVariables env({{"CORVALE_REGISTRY", c.path.c_str()}});
    corvale::log::ScopedCapture log;
    if (c.taken) {
      EXPECT_EQ(platform::RegistryFilePath(), c.path);
    } else {
      EXPECT_EQ(platform::RegistryFilePath(), "/etc/corvale/registry.ini") << c.path;
      EXPECT_TRUE(log.HasPart("CORVALE_REGISTRY " + c.path + " is not used with root's rights")) << c.path;
    }
  }
}

TEST(TrustedFile, DisksNamedByTheEnvironmentOnlyWhenRootsAndClosed) {
  CORVALE_REQUIRE_ROOT();
  const std::string dir = RootFolder();
  const std::string good = Plant(dir + "/good.img", std::string(4096, '\0'), 0644);
  const std::string theirs = Plant(dir + "/theirs.img", std::string(4096, '\0'), 0644, kOtherUser);
  const std::string writable = Plant(dir + "/writable.img", std::string(4096, '\0'), 0666);
  const std::string missing = dir + "/missing.img";
  corvale::test::LoopDevice loop(good);
  ASSERT_TRUE(loop.ok()) << loop.error();
  struct stat device {};
  ASSERT_EQ(::stat(loop.path().c_str(), &device), 0);
  // A node of the same block device, made by root and given to user nobody.
  const std::string foreignNode = dir + "/foreign-node";
  ASSERT_EQ(::mknod(foreignNode.c_str(), S_IFBLK | 0600, device.st_rdev), 0);
  ::chown(foreignNode.c_str(), kOtherUser, kOtherUser);
  ::symlink(good.c_str(), (dir + "/link.img").c_str());

  const std::string list = good + ":" + theirs + ":" + writable + ":" + loop.path() + ":" + foreignNode +
                           ":" + missing + ":" + dir + "/link.img";
  corvale::log::ScopedCapture log;
  const std::vector<platform::DiskEntry> disks = platform::ReadDiskCatalogue("/sys", list.c_str());
  std::vector<std::pair<int, std::string>> got;
  for (const platform::DiskEntry& disk : disks) got.emplace_back(disk.number, disk.devicePath);
  // The refused ones leave their numbers unused; a link to a good image is as good as the image.
  const std::vector<std::pair<int, std::string>> expected = {
      {0, good}, {3, loop.path()}, {5, missing}, {6, dir + "/link.img"}};
  EXPECT_EQ(got, expected);
  for (const std::string& refused : {theirs, writable, foreignNode})
    EXPECT_TRUE(log.HasPart("CORVALE_DISKS: " + refused + " is not read with root's rights")) << refused;
}

}  // namespace
