#pragma once
// What the program asks of the desktop: opening a web page or a local file with the user's
// handler, and starting one of its helper programs to run on its own. Nothing here builds a command
// line from text: addresses and paths go to the desktop as addresses, programs get their arguments
// as a list. Where nobody can see a window (offscreen, no display) an address is only written to
// stderr. Tests install handlers that record the requests.

#include <functional>
#include <string>
#include <vector>

namespace corvale::ui {

// Opens `address` (a web address, or an absolute path of a local file) with the desktop's handler.
// True when the desktop took it.
bool OpenUrl(const std::string& address);

using UrlHandler = std::function<bool(const std::string& address)>;
// Replaces how addresses are opened (null: the desktop). Returns the previous handler.
UrlHandler SetUrlHandler(UrlHandler handler);

// Starts `program` with `arguments` as a process of its own, not waited for and not ended with
// this one. True when it started.
bool StartProgram(const std::string& program, const std::vector<std::string>& arguments);

using ProgramStarter =
    std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
// Replaces how programs are started (null: a real start). Returns the previous starter.
ProgramStarter SetProgramStarter(ProgramStarter starter);

}  // namespace corvale::ui
