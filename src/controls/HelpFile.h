#pragma once
// The help: one page per help topic in the help folder beside the programs (its name is string 435),
// "<folder>/<topic>.html", opened with the desktop's web browser. A topic without a page of its own
// opens the folder's "index.html"; without that either nothing opens.

#include <cstdint>

class QWidget;

constexpr uint32_t kStringHelpFileName = 435;

// Opens help topic `contextId`. The owner window is not used (callers pass none). Returns 0.
int ShowHelpFile(QWidget* owner, int contextId);
