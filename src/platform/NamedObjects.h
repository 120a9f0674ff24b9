#pragma once
// Where the named objects that the two programs share live: the single-instance and loader mutexes,
// the crash events and the shared log buffer with its mutex. Both programs compute the same places
// from the same names, so the launcher and the main program meet without passing anything.
//
// Mutexes are lock files in a private runtime folder; events are POSIX named semaphores and the log
// buffer a POSIX shared-memory object, both under "/" + name. CORVALE_NAMESPACE (letters, digits,
// '.', '_' and '-' only) puts a tag in front of every name, so that test runs started side by side
// never see each other's objects; unset, the names are the programs' own.

#include <string>
#include <string_view>

namespace corvale {

// The tag of CORVALE_NAMESPACE followed by '.', or empty when it is unset or not a plain tag.
std::string NamedObjectTag();

// The name to hand to shm_open and sem_open for object `name`, or empty when `name` cannot be one
// (empty, too long, or holding a '/').
std::string PosixObjectName(std::string_view name);

// The folder of the lock files: $XDG_RUNTIME_DIR/corvale when that folder exists, else
// /tmp/corvale-<uid>. It is created with mode 0700 and refused (empty result) unless it is a real
// folder owned by the effective user and closed to everybody else, so nobody can plant a lock file
// or a link in it.
std::string NamedObjectFolder();

// The lock file of mutex `name`, or empty when there is no usable folder or the name is not usable.
std::string NamedMutexFile(std::string_view name);

}  // namespace corvale
