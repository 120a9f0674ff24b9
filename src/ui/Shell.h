#pragma once
// What the program asks of the desktop: opening a web page, a local file or a folder for the user,
// and starting one of its helper programs to run on its own. Nothing here builds a command line from
// text: addresses and paths go to the handler as one argument, programs get their arguments as a
// list. Every opening goes through the platform's one opener (platform/DesktopOpen.h), which never
// runs a desktop program as root; when it opens nothing, its message says why and how to open it
// instead. Where nobody can see a window (offscreen, no display) an address is only written to
// stderr, unless a test has put a stand-in in the opener's place. Tests may also install a handler
// that records the requests.

#include <functional>
#include <string>
#include <vector>

namespace corvale::ui {

// Opens `address` (an https address, or the absolute path of a local file or folder) for the user.
// True when the handler was started; otherwise the opener's message is shown. A handler that then
// fails (no browser or file manager on the desktop, say) is reported in a message box of its own,
// OpenErrorText of its result, once its status comes in.
bool OpenUrl(const std::string& address);

// Opens a file manager window on `folder` with `items` (absolute paths) selected, or `folder`
// alone without items or without a file manager that selects them. Reported as OpenUrl reports.
bool ShowItemsInFolder(const std::string& folder, const std::vector<std::string>& items);

// The text of a failed open: "Unable to open hyperlink:" and the reason for `result`, a result in
// the numbering the desktop's shell reports (0 out of resources, 2 file not found, 3 path not
// found, 5 access denied, 8 out of memory, 11 bad program, 26 sharing, 27 incomplete association,
// 28-30 DDE, 31 no association, 32 library missing); any other is an unknown error of that number.
std::string OpenErrorText(int result);
// The result that the exit status of the desktop's opener (xdg-open) stands for: 2 a file that does
// not exist, 3 no program to open it with, 4 the program failed; 126 and 127, a handler that could
// not be run at all. Other statuses stand for themselves.
int ResultOfOpenerStatus(int status);

using UrlHandler = std::function<bool(const std::string& address)>;
// Replaces how addresses are opened (null: the desktop). Returns the previous handler.
UrlHandler SetUrlHandler(UrlHandler handler);

// Starts `program`, one of the programs beside this one, with `arguments` as a process of its own,
// not waited for and not ended with this one; running as root, only a program of root's that nobody
// else may change. True when it started.
bool StartProgram(const std::string& program, const std::vector<std::string>& arguments);

using ProgramStarter =
    std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
// Replaces how programs are started (null: a real start). Returns the previous starter.
ProgramStarter SetProgramStarter(ProgramStarter starter);

}  // namespace corvale::ui
