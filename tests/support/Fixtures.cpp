#include "support/Fixtures.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace corvale::test {

bool IsRoot() { return geteuid() == 0; }

bool HaveTool(const std::string& tool) {
  return RunCommand("command -v '" + tool + "' >/dev/null 2>&1") == 0;
}

int RunCommand(const std::string& command, std::string* out) {
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FixtureImage(const std::string& script, const std::string& imageName, std::string* why) {
  fs::path cache = CORVALE_FIXTURE_CACHE;
  fs::path scriptPath = fs::path(CORVALE_FIXTURE_SCRIPTS) / script;
  fs::path image = cache / imageName;
  std::error_code ec;
  fs::create_directories(cache, ec);
  if (!fs::exists(scriptPath)) {
    if (why) *why = "no script " + scriptPath.string();
    return {};
  }
  // One maker at a time per image, across the test executables that CTest runs in parallel.
  std::string lockPath = (cache / (imageName + ".lock")).string();
  int lock = ::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock >= 0) ::flock(lock, LOCK_EX);
  std::string result;
  // The script is part of the cache key: an edited script makes the image again.
  fs::path stamp = cache / (imageName + ".stamp");
  auto scriptTime = fs::last_write_time(scriptPath, ec);
  bool fresh = fs::exists(image) && fs::exists(stamp) && fs::last_write_time(stamp, ec) >= scriptTime;
  if (fresh) {
    result = image.string();
  } else {
    fs::path tmp = cache / (imageName + ".tmp");
    fs::remove_all(tmp, ec);
    std::string output;
    int rc = RunCommand("bash '" + scriptPath.string() + "' '" + tmp.string() + "' 2>&1", &output);
    if (rc == 0 && fs::exists(tmp)) {
      // A fixture may be a folder (an image with its manifest); an old one must go before the
      // rename, which does not replace a non-empty folder.
      fs::remove_all(image, ec);
      fs::rename(tmp, image, ec);
      std::ofstream(stamp.string()) << "made\n";
      if (!ec) result = image.string();
    } else {
      fs::remove_all(tmp, ec);
      if (why) *why = (rc == 77 ? "" : "script failed: ") + output;
    }
  }
  if (lock >= 0) ::close(lock);
  return result;
}

namespace {

// Removes the scratch folders a test made once it has passed; a failed test keeps them for a look.
// Without this every run would leave its disk images behind (tens of megabytes a test).
class ScratchCleaner : public ::testing::EmptyTestEventListener {
 public:
  void Add(const fs::path& dir) { m_dirs.push_back(dir); }
  void OnTestEnd(const ::testing::TestInfo& info) override {
    if (info.result() != nullptr && !info.result()->Failed()) {
      std::error_code ec;
      for (const fs::path& dir : m_dirs) fs::remove_all(dir, ec);
    }
    m_dirs.clear();
  }

 private:
  std::vector<fs::path> m_dirs;
};

ScratchCleaner* Cleaner() {
  // Owned by the test framework's listener list once appended.
  static ScratchCleaner* cleaner = [] {
    auto* made = new ScratchCleaner;
    ::testing::UnitTest::GetInstance()->listeners().Append(made);
    return made;
  }();
  return cleaner;
}

}  // namespace

std::string ScratchDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "scratch";
  for (char& c : name)
    if (c == '/') c = '_';
  fs::path dir = fs::path(CORVALE_FIXTURE_CACHE) / "scratch" / (name + "." + std::to_string(getpid()));
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir, ec);
  // Only folders of a running test are cleaned at its end; a suite's shared folder stays.
  if (info) Cleaner()->Add(dir);
  return dir.string();
}

PublicScratchDir::PublicScratchDir() {
  char name[] = "/tmp/corvale-test-XXXXXX";
  if (mkdtemp(name) == nullptr) return;
  m_path = name;
  chmod(name, 0755);
}

PublicScratchDir::~PublicScratchDir() {
  if (m_path.empty()) return;
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> variables) {
  for (const auto& [name, value] : variables) {
    const char* old = std::getenv(name);
    m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->second) {
      setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      unsetenv(it->first.c_str());
    }
  }
}

bool RunAsOtherUser(const std::function<bool()>& body) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    gid_t gid = kOtherUser;
    if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(kOtherUser) != 0) _exit(3);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

LoopDevice::LoopDevice(const std::string& image, bool readOnly) {
  if (!IsRoot()) {
    m_error = "needs root";
    return;
  }
  std::string out;
  int rc =
      RunCommand(std::string("losetup -f --show ") + (readOnly ? "-r " : "") + "'" + image + "' 2>&1", &out);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  if (rc == 0 && out.rfind("/dev/loop", 0) == 0) {
    m_path = out;
  } else {
    m_error = out;
  }
}

LoopDevice::~LoopDevice() {
  if (!m_path.empty()) RunCommand("losetup -d '" + m_path + "' 2>/dev/null");
}

}  // namespace corvale::test
