#include "platform/DesktopOpen.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/ChildStart.h"
#include "platform/Log.h"
#include "platform/TrustedFile.h"

extern char** environ;

namespace platform {
namespace {

constexpr const char* kOpenerName = "xdg-open";
constexpr const char* kItemShowerName = "dbus-send";
constexpr size_t kMaxAddressBytes = 4096;

std::mutex& OpenerMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::string& TestOpener() {
  static std::string* opener = new std::string;
  return *opener;
}

std::string& TestItemShower() {
  static std::string* shower = new std::string;
  return *shower;
}

// The handler program: the test's stand-in, else xdg-open from the fixed search path. As root it must
// be a file of root's that nobody else may change, as everything root starts.
std::string FindProgram(const char* name, const std::string& testProgram, std::string* why) {
  const std::string& replaced = testProgram;
  if (!replaced.empty()) {
    struct stat st {};
    std::string reason = "it cannot be examined";
    if (::stat(replaced.c_str(), &st) == 0 && IsTrustedFileStatus(st, &reason)) return replaced;
    LogError("%s is not used: %s", replaced.c_str(), reason.c_str());
    if (why) *why = replaced + " is not used: " + reason;
    return {};
  }
  std::string path = kSafeSearchPath;
  size_t start = 0;
  while (start <= path.size()) {
    size_t colon = path.find(':', start);
    if (colon == std::string::npos) colon = path.size();
    const std::string candidate = path.substr(start, colon - start) + "/" + name;
    start = colon + 1;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 0111) == 0) continue;
    std::string reason;
    if (!IsTrustedFileStatus(st, &reason)) {
      LogError("%s is not used: %s", candidate.c_str(), reason.c_str());
      continue;
    }
    return candidate;
  }
  if (why) *why = "no program to open it with was found (xdg-open, of the package xdg-utils)";
  return {};
}

std::string FindOpener(std::string* why) {
  std::string replaced;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    replaced = TestOpener();
  }
  return FindProgram(kOpenerName, replaced, why);
}

// The program that asks the file manager to show items selected (dbus-send), or empty.
std::string FindItemShower() {
  std::string replaced;
  {
    std::lock_guard<std::mutex> lock(OpenerMutex());
    replaced = TestItemShower();
    // A test that replaced only the opener gets only the opener.
    if (replaced.empty() && !TestOpener().empty()) return {};
  }
  return FindProgram(kItemShowerName, replaced, nullptr);
}

// In a child: closes every descriptor above 2 but `a` and `b`; async-signal-safe.
void CloseAllBut(int a, int b) {
  const unsigned low = static_cast<unsigned>(a < b ? a : b);
  const unsigned high = static_cast<unsigned>(a < b ? b : a);
  auto closeRange = [](unsigned first, unsigned last) {
    if (first > last) return;
    if (::close_range(first, last, 0) == 0) return;
    for (unsigned fd = first; fd <= last && fd < (1u << 20); ++fd) ::close(static_cast<int>(fd));
  };
  closeRange(3, low - 1);
  closeRange(low + 1, high - 1);
  closeRange(high + 1, ~0u);
}

bool IsPassedToDesktop(const std::string& name) {
  static const char* const kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP",
                                       "LANG",    "LANGUAGE"};
  for (const char* known : kNames)
    if (name == known) return true;
  return name.size() > 3 && name.compare(0, 3, "LC_") == 0;
}

bool HasControlCharacters(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

// Why `what` cannot be handed to a desktop program as `kind`; empty when it can. Only what a handler
// cannot read as an option or as another kind of address passes.
std::string CheckRequest(const std::string& what, DesktopItem kind) {
  if (what.empty()) return "nothing to open";
  if (what.find('\0') != std::string::npos) return "the name holds a NUL character";
  if (kind == DesktopItem::kAddress) {
    if (what.size() > kMaxAddressBytes) return "the address is too long";
    if (what.compare(0, 8, "https://") != 0 || what.size() == 8) return "only https addresses are opened";
    if (HasControlCharacters(what) || what.find(' ') != std::string::npos)
      return "the address holds blanks or control characters";
    return {};
  }
  if (what[0] != '/') return "not an absolute path";
  return {};
}

std::string FailureText(const std::string& what, const std::string& reason) {
  return "Corvale could not open it for you (" + reason + "). Open it yourself:\n\n" + what;
}

struct HandedCopy {
  std::string base;
  std::string folder;
  std::string name;
  uid_t uid;
};

std::mutex& HandedMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::vector<HandedCopy>& Handed() {
  static std::vector<HandedCopy>* handed = new std::vector<HandedCopy>;
  return *handed;
}

// Removes the copies when the program ends.
struct HandedCleanup {
  ~HandedCleanup() { RemoveHandedCopies(); }
};

std::string RandomName() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[12];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(std::rand());
  }
  std::string name = "corvale-view-";
  for (unsigned char b : bytes) name += kLetters[b % (sizeof kLetters - 1)];
  return name;
}

bool CopyAll(int from, int to) {
  char buffer[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
    at += n;
  }
}

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

}  // namespace

std::optional<RequestingUser> DesktopUser() { return FindRequestingUser(); }

std::string NoDesktopUserText(const std::string& howToOpen) {
  return "Corvale runs with root's rights and never starts a desktop program that way, and it was not "
         "told who you are (it was started neither through pkexec nor through sudo), so nothing was "
         "opened. " +
         howToOpen;
}

std::vector<std::string> DesktopEnvironment(const RequestingUser& user, const char* const* parent) {
  std::vector<std::string> env;
  for (const char* const* e = parent; e && *e; ++e) {
    const std::string entry = *e;
    const size_t equals = entry.find('=');
    if (equals == std::string::npos || !IsPassedToDesktop(entry.substr(0, equals))) continue;
    env.push_back(entry);
  }
  env.push_back("HOME=" + user.home);
  env.push_back("USER=" + user.name);
  env.push_back("LOGNAME=" + user.name);
  env.push_back(std::string("PATH=") + kSafeSearchPath);
  const std::string runtime = "/run/user/" + std::to_string(user.uid);
  struct stat st {};
  if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user.uid)
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
  return env;
}

namespace {

// One program to try: its path and its arguments (the first being the name it is started under).
struct Attempt {
  std::string program;
  std::vector<std::string> argv;
};

// Waits at most `limitMs` for `pid` to end; async-signal-safe. Its exit status (0..255), -1 when it
// ended by a signal, -2 when it still ran at the limit.
int WaitBounded(pid_t pid, int limitMs) {
  struct timespec begin {};
  ::clock_gettime(CLOCK_MONOTONIC, &begin);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0 && errno != EINTR) return -1;
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const long long elapsed =
        (now.tv_sec - begin.tv_sec) * 1000LL + (now.tv_nsec - begin.tv_nsec) / 1000000LL;
    if (elapsed >= limitMs) return -2;
    struct timespec pause {
      0, 20 * 1000 * 1000
    };
    ::nanosleep(&pause, nullptr);
  }
}

// Starts the first attempt for the user and, while its outcome is awaited, each next one whenever the
// one before ended with a failure status. The parent learns at once whether the first program
// started; how the last one ended comes later on the outcome pipe.
DesktopOpenResult StartForUser(const std::vector<Attempt>& attempts, const std::string& shown) {
  // Not as root the handler simply runs as this program's user, known to the accounts or not.
  const bool becomeUser = RunningAsRoot();
  const std::optional<RequestingUser> user = becomeUser ? DesktopUser() : RequestingUser{};
  if (!user) {
    LogError("Not opened for the user: %s (running as root for nobody known)", shown.c_str());
    return {false, NoDesktopUserText("Open it yourself:\n\n" + shown)};
  }

  // Everything the children use is made now: after the fork only async-signal-safe calls.
  std::vector<gid_t> groups;
  if (becomeUser) {
    int count = 64;
    for (int attempt = 0; attempt < 8; ++attempt) {
      groups.resize(static_cast<size_t>(count));
      int n = count;
      if (::getgrouplist(user->name.c_str(), user->gid, groups.data(), &n) >= 0) {
        groups.resize(static_cast<size_t>(n));
        break;
      }
      count = n > count ? n : count * 2;
      groups.clear();
    }
    if (groups.empty()) groups.push_back(user->gid);
  }
  std::vector<std::string> full =
      becomeUser ? DesktopEnvironment(*user, environ) : std::vector<std::string>();
  if (!becomeUser)
    for (char** e = environ; e && *e; ++e) full.emplace_back(*e);
  // The same without XAUTHORITY, for a user who cannot read the file it names.
  std::string xauthority;
  std::vector<std::string> withoutAuthority;
  for (const std::string& entry : full) {
    if (entry.compare(0, 11, "XAUTHORITY=") == 0)
      xauthority = entry.substr(11);
    else
      withoutAuthority.push_back(entry);
  }
  std::vector<char*> envFull, envShort;
  for (std::string& e : full) envFull.push_back(e.data());
  envFull.push_back(nullptr);
  for (std::string& e : withoutAuthority) envShort.push_back(e.data());
  envShort.push_back(nullptr);
  std::vector<Attempt> programs = attempts;
  std::vector<std::vector<char*>> argvs;
  for (Attempt& attempt : programs) {
    std::vector<char*> argv;
    for (std::string& arg : attempt.argv) argv.push_back(arg.data());
    argv.push_back(nullptr);
    argvs.push_back(std::move(argv));
  }
  const uid_t uid = becomeUser ? user->uid : ::getuid();
  const gid_t gid = becomeUser ? user->gid : ::getgid();
  const int highestDescriptor = HighestDescriptor();
  const int limitMs = kOutcomeWaitMs;
  Fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  int outcome[2] = {-1, -1};
  ChildReport report;
  if (null.Get() < 0 || !report.Open() || ::pipe2(outcome, O_CLOEXEC) != 0) {
    const std::string reason = std::strerror(errno);
    return {false, FailureText(shown, reason)};
  }
  Fd outcomeRead(outcome[0]);
  Fd outcomeWrite(outcome[1]);

  // In the child that becomes the user: never returns. With a next program to fall back on, a
  // failure is left to the watcher, which goes on to it; the parent only learns of a single one.
  const bool reportFailures = programs.size() == 1;
  auto fail = [&](ChildStage stage, int error) {
    if (reportFailures) report.Fail(stage, error);
  };
  auto runAttempt = [&](size_t index) {
    if (becomeUser) {
      if (::setgroups(groups.size(), groups.data()) != 0) {
        fail(ChildStage::kGroups, errno);
        ::_exit(127);
      }
      if (::setgid(gid) != 0) {
        fail(ChildStage::kGroup, errno);
        ::_exit(127);
      }
      if (::setuid(uid) != 0) {
        fail(ChildStage::kUser, errno);
        ::_exit(127);
      }
      // All four ids are the user's, and root's rights cannot be taken back.
      if (::getuid() != uid || ::geteuid() != uid || ::getgid() != gid || ::getegid() != gid ||
          ::setuid(0) == 0) {
        fail(ChildStage::kUserCheck, EPERM);
        ::_exit(127);
      }
    }
    if (::dup2(null.Get(), 0) < 0 || ::dup2(null.Get(), 1) < 0 || (becomeUser && ::dup2(null.Get(), 2) < 0)) {
      fail(ChildStage::kDescriptors, errno);
      ::_exit(127);
    }
    MarkDescriptorsCloseOnExec(highestDescriptor);
    ResetSignalsInChild();
    ::umask(022);
    if (::chdir("/") != 0) {
      // Nothing depends on the working folder; "/" is only where the handler starts.
    }
    const bool keepAuthority = xauthority.empty() || ::access(xauthority.c_str(), R_OK) == 0;
    ::execve(programs[index].program.c_str(), argvs[index].data(),
             keepAuthority ? envFull.data() : envShort.data());
    fail(ChildStage::kExec, errno);
    ::_exit(127);
  };

  const pid_t child = ::fork();
  if (child == 0) {
    // The watcher must not be a child of ours: nobody waits for it, and it may outlive us. It stays
    // root's (or ours) and only waits; the handlers it starts become the user.
    const pid_t watcher = ::fork();
    if (watcher != 0) {
      if (watcher < 0) report.Fail(ChildStage::kFork, errno);
      ::_exit(0);
    }
    ::setsid();
    int status = -1;
    for (size_t i = 0; i < programs.size(); ++i) {
      const pid_t handler = ::fork();
      if (handler == 0) runAttempt(i);
      if (i == 0) {
        if (handler < 0) report.Fail(ChildStage::kFork, errno);
        // Only the first start is reported to the parent, which waits for nothing more.
        report.CloseWriteEnd();
        // Nothing of the program's but what is needed here stays open in the watcher: another
        // start's report pipe held here would keep that start waiting.
        CloseAllBut(outcomeWrite.Get(), null.Get());
      }
      if (handler < 0) break;
      status = WaitBounded(handler, limitMs);
      if (status == 0 || status == -2) break;
    }
    if (status >= 0) {
      const unsigned char byte = static_cast<unsigned char>(status);
      while (::write(outcomeWrite.Get(), &byte, 1) < 0 && errno == EINTR) {
      }
    }
    ::_exit(0);
  }
  report.CloseWriteEnd();
  ::close(outcomeWrite.Release());
  if (child < 0) {
    const std::string reason = std::strerror(errno);
    return {false, FailureText(shown, reason)};
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::string failure;
  if (!report.Read(&failure)) {
    LogError("Not opened for the user: %s (%s: %s)", shown.c_str(), programs[0].program.c_str(),
             failure.c_str());
    return {false, FailureText(shown, programs[0].program + " " + failure)};
  }
  DebugTrace("Opened %s with %s as user %u", shown.c_str(), programs[0].program.c_str(),
             static_cast<unsigned>(uid));
  DesktopOpenResult result{true, {}};
  result.outcomeFd = outcomeRead.Release();
  return result;
}

// "file://" and the path with every byte outside the unreserved set and "/" percent-encoded.
std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

}  // namespace

DesktopOpenResult OpenForUser(const std::string& what, DesktopItem kind) {
  const std::string shown = what.find('\0') == std::string::npos ? what : "";
  if (std::string refused = CheckRequest(what, kind); !refused.empty()) {
    LogError("Not opened for the user: %s (%s)", shown.c_str(), refused.c_str());
    return {false, FailureText(shown, refused)};
  }
  if (RunningAsRoot() && !DesktopUser()) {
    LogError("Not opened for the user: %s (running as root for nobody known)", what.c_str());
    return {false, NoDesktopUserText("Open it yourself:\n\n" + what)};
  }
  std::string why;
  const std::string opener = FindOpener(&why);
  if (opener.empty()) {
    LogError("Not opened for the user: %s (%s)", what.c_str(), why.c_str());
    return {false, FailureText(what, why)};
  }
  return StartForUser({Attempt{opener, {opener, what}}}, what);
}

DesktopOpenResult ShowItemsForUser(const std::string& folder, const std::vector<std::string>& items) {
  if (std::string refused = CheckRequest(folder, DesktopItem::kFolder); !refused.empty()) {
    const std::string shown = folder.find('\0') == std::string::npos ? folder : "";
    LogError("Not opened for the user: %s (%s)", shown.c_str(), refused.c_str());
    return {false, FailureText(shown, refused)};
  }
  std::vector<std::string> uris;
  for (const std::string& item : items) {
    if (uris.size() >= kMaxShownItems) break;
    if (!CheckRequest(item, DesktopItem::kFile).empty() || HasControlCharacters(item)) continue;
    uris.push_back(FileUri(item));
  }
  if (RunningAsRoot() && !DesktopUser()) {
    LogError("Not opened for the user: %s (running as root for nobody known)", folder.c_str());
    return {false, NoDesktopUserText("Open it yourself:\n\n" + folder)};
  }
  std::string why;
  const std::string opener = FindOpener(&why);
  std::vector<Attempt> attempts;
  const std::string shower = uris.empty() ? std::string() : FindItemShower();
  if (!shower.empty()) {
    std::string list = "array:string:";
    // dbus-send separates the array's elements by commas; FileUri has encoded every comma.
    for (size_t i = 0; i < uris.size(); ++i) list += (i ? "," : "") + uris[i];
    attempts.push_back(
        {shower,
         {shower, "--session", "--print-reply", "--dest=org.freedesktop.FileManager1", "--type=method_call",
          "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems", list, "string:"}});
  }
  // Without a file manager that selects items, the folder itself is opened.
  if (!opener.empty()) attempts.push_back({opener, {opener, folder}});
  if (attempts.empty()) {
    LogError("Not opened for the user: %s (%s)", folder.c_str(), why.c_str());
    return {false, FailureText(folder, why)};
  }
  return StartForUser(attempts, folder);
}

std::string HandOverCopy(int sourceFd, const std::string& name, std::string* why) {
  return HandOverCopyIn("/tmp", sourceFd, name, why);
}

std::string HandOverCopyIn(const std::string& base, int sourceFd, const std::string& name, std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    LogError("No copy of %s for the user in %s: %s", name.c_str(), base.c_str(), reason.c_str());
    return std::string();
  };
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos ||
      name == "." || name == "..")
    return fail("not a plain file name");
  const bool becomeUser = RunningAsRoot();
  const std::optional<RequestingUser> user = becomeUser ? DesktopUser() : RequestingUser{};
  if (!user) return fail("running as root for nobody known");
  static HandedCleanup cleanup;

  Fd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (baseFd.Get() < 0 || ::fstat(baseFd.Get(), &st) != 0) return fail(std::strerror(errno));
  // Somebody else's folder, or one others may rename entries in, could have our folder swapped.
  const bool closed = (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0;
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return fail("the folder belongs to somebody else");
  if (!closed) return fail("others may change the folder");

  std::string folder;
  for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
    const std::string candidate = RandomName();
    if (::mkdirat(baseFd.Get(), candidate.c_str(), 0700) == 0) {
      folder = candidate;
    } else if (errno != EEXIST) {
      return fail(std::strerror(errno));
    }
  }
  if (folder.empty()) return fail("no free folder name");
  auto removeFolder = [&] { ::unlinkat(baseFd.Get(), folder.c_str(), AT_REMOVEDIR); };
  Fd dirFd(::openat(baseFd.Get(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dirFd.Get() < 0 || ::fstat(dirFd.Get(), &st) != 0 || st.st_uid != ::geteuid()) {
    const std::string reason = dirFd.Get() < 0 ? std::strerror(errno) : "the new folder is not ours";
    return fail(reason);
  }
  Fd file(::openat(dirFd.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  bool ok = file.Get() >= 0 && CopyAll(sourceFd, file.Get()) && ::fchmod(file.Get(), 0600) == 0;
  if (ok && becomeUser) ok = ::fchown(file.Get(), user->uid, user->gid) == 0;
  if (file.Get() >= 0 && ::close(file.Release()) != 0) ok = false;
  // The folder is given away last: once it is the user's, nothing more is written in it.
  if (ok)
    ok =
        ::fchmod(dirFd.Get(), 0700) == 0 && (!becomeUser || ::fchown(dirFd.Get(), user->uid, user->gid) == 0);
  if (!ok) {
    const std::string reason = std::strerror(errno);
    ::unlinkat(dirFd.Get(), name.c_str(), 0);
    removeFolder();
    return fail(reason);
  }
  {
    std::lock_guard<std::mutex> lock(HandedMutex());
    Handed().push_back({base, folder, name, becomeUser ? user->uid : ::geteuid()});
  }
  std::string path = base;
  if (path.empty() || path.back() != '/') path += '/';
  return path + folder + "/" + name;
}

void RemoveHandedCopies() {
  std::vector<HandedCopy> handed;
  {
    std::lock_guard<std::mutex> lock(HandedMutex());
    handed.swap(Handed());
  }
  for (const HandedCopy& copy : handed) {
    Fd baseFd(::open(copy.base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (baseFd.Get() < 0) continue;
    Fd dirFd(::openat(baseFd.Get(), copy.folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (dirFd.Get() < 0 || ::fstat(dirFd.Get(), &st) != 0 || st.st_uid != copy.uid) continue;
    // Only the entry by its own name goes: a link put in its place is removed, never followed.
    ::unlinkat(dirFd.Get(), copy.name.c_str(), 0);
    ::unlinkat(baseFd.Get(), copy.folder.c_str(), AT_REMOVEDIR);
  }
}

void SetDesktopOpenerForTesting(const std::string& program) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  TestOpener() = program;
}

void SetItemShowerForTesting(const std::string& program) {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  TestItemShower() = program;
}

bool DesktopOpenerReplaced() {
  std::lock_guard<std::mutex> lock(OpenerMutex());
  return !TestOpener().empty();
}

}  // namespace platform
