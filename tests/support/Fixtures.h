#pragma once
// Test images made at test time by the scripts in tests/fixtures/, cached in the build folder, and
// the privileges some tests need (root for loop devices and FUSE mounts).

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvale::test {

bool IsRoot();
// True when `tool` is on the PATH.
bool HaveTool(const std::string& tool);

// The path of image `imageName`, made by running `tests/fixtures/<script> <output path>` the first
// time it is asked for (serialised across test processes). Empty with *why set when it cannot be
// made (a tool or privilege is missing, or the script failed).
std::string FixtureImage(const std::string& script, const std::string& imageName, std::string* why);

// A fresh empty folder under the build folder, unique to the calling test.
std::string ScratchDir();

// A fresh empty folder under /tmp that every user can enter and read (mode 0755), for what a test
// runs as another user: the build folder may sit where only root can go (a checkout under /root).
// Removed with everything in it when the object goes.
class PublicScratchDir {
 public:
  PublicScratchDir();
  ~PublicScratchDir();
  PublicScratchDir(const PublicScratchDir&) = delete;
  PublicScratchDir& operator=(const PublicScratchDir&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// The user that tests run things as when they need somebody without rights ("nobody").
inline constexpr unsigned kOtherUser = 65534;

// Runs `body` in a child process as kOtherUser (uid and gid, no supplementary groups) and returns
// its result; false when the switch fails. Needs root.
bool RunAsOtherUser(const std::function<bool()>& body);

// Sets (or, with null, unsets) environment variables for the life of the object and puts back
// what was there.
class ScopedEnv {
 public:
  ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> variables);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Runs a shell command; returns its exit status, and its standard output in *out when given.
int RunCommand(const std::string& command, std::string* out = nullptr);

// A loop device over an image file, attached read-only by default and detached on destruction.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image, bool readOnly = true);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  bool ok() const { return !m_path.empty(); }
  const std::string& path() const { return m_path; }
  const std::string& error() const { return m_error; }

 private:
  std::string m_path;
  std::string m_error;
};

}  // namespace corvale::test

// Skips the test (with the reason) unless running as root with loop-device support.
#define CORVALE_REQUIRE_ROOT()                                                                \
  do {                                                                                        \
    if (!::corvale::test::IsRoot()) GTEST_SKIP() << "needs root (loop devices, FUSE mounts)"; \
  } while (0)

// Declares `var` as the path of a fixture image, or skips the test saying why it is missing.
#define CORVALE_FIXTURE(var, script, image)                                         \
  std::string var##_why;                                                            \
  const std::string var = ::corvale::test::FixtureImage(script, image, &var##_why); \
  if (var.empty()) GTEST_SKIP() << "fixture " << image << " unavailable: " << var##_why
