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
// True when the handler was started; otherwise the opener's message is shown.
bool OpenUrl(const std::string& address);

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
