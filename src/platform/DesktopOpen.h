#pragma once
// Opening a file, a folder or a web address for the person who asked for the run, with their
// desktop's handler (xdg-open). This is the one place the program starts desktop programs from.
//
// The program runs as root to read disks; a browser, a file manager or a document viewer started
// that way would run whatever a recovered file or a web page makes it run with root's rights. So the
// handler is started in a child that first becomes the person who asked (platform::
// FindRequestingUser): their groups, group and user, checked to have held; then a clean environment
// with only their display, their home, names, the fixed search path, their runtime folder and the
// locale; a session of its own, never waited for. Running as root for nobody known, nothing is
// started: the answer says how to open it instead. Not running as root, the handler runs as the
// program's own user with the program's environment.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/RequestingUser.h"

namespace platform {

enum class DesktopItem { kFile, kFolder, kAddress };

struct DesktopOpenResult {
  bool started = false;
  // When not started: why, and how to open it instead.
  std::string message;
  // When started: a descriptor (the caller closes it) that turns readable once the handler's fate
  // is known: one byte, the handler's exit status, when it ended within kOutcomeWaitMs; nothing
  // (end of file) when it still ran then or ended by a signal. -1 when not started.
  int outcomeFd = -1;
};

// How long the handler is watched for a failure status. xdg-open with some desktops runs the
// browser in its place, so a handler still running then counts as having opened it.
inline constexpr int kOutcomeWaitMs = 15000;
// The most items one request shows selected.
inline constexpr size_t kMaxShownItems = 32;

// Opens `what`: for kFile and kFolder an absolute path, for kAddress an https address.
DesktopOpenResult OpenForUser(const std::string& what, DesktopItem kind);

// Opens a file manager window with `items` (absolute paths, the first kMaxShownItems of them)
// selected in their folders, through the desktop's file manager service
// (org.freedesktop.FileManager1.ShowItems, called with dbus-send); without that service, or
// without items, `folder` is opened as OpenForUser opens a folder.
DesktopOpenResult ShowItemsForUser(const std::string& folder, const std::vector<std::string>& items);

// The person a desktop program would run as: the requesting user, or nothing when running as root
// for nobody known (then nothing is started).
std::optional<RequestingUser> DesktopUser();

// The text that tells, running as root for nobody known, why nothing opens; `howToOpen` ends it.
std::string NoDesktopUserText(const std::string& howToOpen);

// A copy of the opened file `sourceFd` (read from its start) for a desktop program to open: a new
// folder of its own under /tmp holding the file `name` (a plain file name the caller chose, never one
// from a disk), made as the program's user relative to the opened /tmp without following links, then
// given to the desktop user: folder mode 0700, file mode 0600, so nobody else can read it. Such
// folders go when the program ends. The file's path, or empty with the reason in *why.
std::string HandOverCopy(int sourceFd, const std::string& name, std::string* why);
// The same under another folder than /tmp (tests).
std::string HandOverCopyIn(const std::string& base, int sourceFd, const std::string& name, std::string* why);
// Removes the copies handed over so far: each file by its own name in its folder, then the folder,
// never through a link; a folder the user has put more into stays. Done at exit.
void RemoveHandedCopies();

// The environment the handler gets when it runs as `user` for a program whose environment is
// `parent` (NAME=value entries): the display (DISPLAY, WAYLAND_DISPLAY, XAUTHORITY, and the
// desktop's name XDG_CURRENT_DESKTOP, by which xdg-open picks the desktop's own opener), HOME,
// USER, LOGNAME, PATH (the fixed search path), XDG_RUNTIME_DIR when /run/user/UID is a folder of
// theirs, LANG, LANGUAGE and LC_*. XAUTHORITY is left for the child to keep only when the user can
// read it.
std::vector<std::string> DesktopEnvironment(const RequestingUser& user, const char* const* parent);

// Tests: the handler program to start in place of xdg-open (an absolute path); empty goes back to
// xdg-open. Whether one is set.
void SetDesktopOpenerForTesting(const std::string& program);
bool DesktopOpenerReplaced();
// Tests: the program to start in place of dbus-send for ShowItemsForUser; empty goes back to
// dbus-send, which a test that replaced only the opener does not get.
void SetItemShowerForTesting(const std::string& program);

}  // namespace platform
