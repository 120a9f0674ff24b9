#pragma once
// The names the launcher and the main program meet by. The launcher owns the loader mutex for its
// whole life; the main program only asks whether it exists, to learn that the launcher started it.
// The launcher makes the two crash events anew for each run of the main program; the main
// program's crash path sets one of them: the memory-crash event asks for a restart, the crash
// event for the crash report. Both programs name the same log file in the program folder.

namespace corvale {

inline constexpr const char* kLoaderMutexName = "QBX_Loader_{E1AB3D3B-FEBF-4281-BD7E-5655BE739E67}";
inline constexpr const char* kCrashEventName = "QBX_Crash_{FC1A0E29-3523-4152-B110-3340363E5DB7}";
inline constexpr const char* kMemoryCrashEventName =
    "QBX_Memory_Crash_{c3d61a40-a3e6-402b-b373-fd90d30893c8}";
inline constexpr const char* kLogFileName = "CorvaleDataRecovery.log";
// Held by the running main program for its whole life: a second instance finds it and refuses.
inline constexpr const char* kMainInstanceMutexName = "CORVALETARN0_Mutex_482913_Halvern";

}  // namespace corvale
