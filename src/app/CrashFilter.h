#pragma once
// The main program's last line of defence: what happens when it crashes or runs out of memory.
//
// A crash (a fault signal, or an abort) runs a signal handler on a stack of its own. It does only
// what is safe inside a signal handler: it sets the launcher's crash event (opened at start-up, so
// setting it is one semaphore post), writes a dump file "Qbxdump<N>.dmp" into the program folder
// (the signal, the fault address and the stack as the runtime can give it, written with write(2)
// from buffers made at start-up), and lets the process die of the signal. A second crash while the
// first is being reported ends the process at once.
//
// Running out of memory ends in the out-of-memory handler installed here: it tells the user (while
// RAW files are being recovered, to untick that option; otherwise that the program must close),
// sets the launcher's memory-crash event (the launcher starts the program again) or its crash
// event, and ends the process with the out-of-memory exit status.

#include <cstddef>
#include <string>

namespace corvale::app {

// Installs the crash handlers and the out-of-memory handler; `dumpFolder` is where dumps go (the
// program folder when empty). Call once, early, on the main thread.
void InstallCrashFilter(const std::string& dumpFolder = {});

// The path the next crash's dump is written to ("" when there is none).
std::string CrashDumpPath();

// The first free dump name in `folder`: "Qbxdump0.dmp", "Qbxdump1.dmp", ...; earlier dumps are
// kept.
std::string NextDumpPath(const std::string& folder);

// The string id the out-of-memory box shows: 61240 with RAW recovery on, else 307.
unsigned OutOfMemoryMessageId(bool recoverRawFiles);

// The out-of-memory handler of the user interface (never returns).
[[noreturn]] void OutOfMemoryInUserInterface(size_t requestedBytes);

// For tests of the crash path only, and only in a test build (CORVALE_TEST_HOOKS; a release build
// ignores the variable): when CORVALE_TEST_CRASH is "segv" the program dies of a bad memory access;
// "twice" also faults again inside the crash handler; "oom" runs out of memory.
void CrashWhenTestAsks();

}  // namespace corvale::app
