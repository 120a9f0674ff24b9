#pragma once
// The help: one page per help topic in the help folder beside the programs (its name is string 435),
// "<folder>/<topic>.html", opened with the web browser of the person who asked for the run. A topic
// without a page of its own opens the folder's "index.html", the contents, which is also the user
// guide; without that either, or when the browser fails, a message says that it could not be opened.
// Running as root, a page or a folder that is not root's, or that others may change, is not opened
// (the log says why): that person's browser would run what another user wrote.

#include <cstdint>
#include <string>

class QWidget;

constexpr uint32_t kStringHelpFileName = 435;

// Opens help topic `contextId`. The owner window is not used (callers pass none). Returns 0.
int ShowHelpFile(QWidget* owner, int contextId);

// Opens the help's contents page, the user guide.
void ShowHelpContents();

// The folder the help pages are looked up in, ending in '/': the help folder beside the programs
// unless another one was set. Setting an empty folder goes back to that one.
std::string HelpFolder();
void SetHelpFolder(const std::string& folder);
