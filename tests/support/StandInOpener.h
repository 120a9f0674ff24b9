#pragma once
// A stand-in for the desktop's opener (xdg-open) that records each start: who it ran as, its
// arguments, its environment, its working folder and the files it had open. Put in the opener's
// place for the object's life (platform::SetDesktopOpenerForTesting), so that what a user's click
// opens can be checked by what really started. It lies in a folder every user can read, and each
// run leaves its record in a folder every user can write, since it runs as the person who asked.

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/Fixtures.h"

namespace corvale::test {

// Sets environment variables for a scope and puts back what was there. A null value removes one.
class ScopedVariables {
 public:
  ScopedVariables() = default;
  ScopedVariables(std::initializer_list<std::pair<const char*, const char*>> values);
  ~ScopedVariables();
  ScopedVariables(const ScopedVariables&) = delete;
  ScopedVariables& operator=(const ScopedVariables&) = delete;
  void Set(const char* name, const char* value);

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class StandInOpener {
 public:
  struct Record {
    unsigned uid = 0;
    unsigned gid = 0;
    std::string groups;  // as `id -G` writes them
    std::string cwd;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::vector<std::string> openFiles;  // what the descriptors of the opener's shell point to
  };

  // What the stand-in takes the place of: the opener (xdg-open), or the program that asks the file
  // manager to show items selected (dbus-send).
  enum class Role { kOpener, kItemShower };

  // A stand-in that ends with `exitStatus` after leaving its record.
  explicit StandInOpener(int exitStatus = 0, Role role = Role::kOpener);
  ~StandInOpener();
  StandInOpener(const StandInOpener&) = delete;
  StandInOpener& operator=(const StandInOpener&) = delete;

  bool ok() const { return !m_program.empty(); }
  const std::string& Program() const { return m_program; }
  // The records so far, in the order the runs started.
  std::vector<Record> Records() const;
  // Waits until at least `count` runs left their record; false when they did not in time.
  bool WaitFor(size_t count, int timeoutMs = 20000) const;
  // Forgets the records so far.
  void Clear();

 private:
  PublicScratchDir m_dir;
  std::string m_program;
  std::string m_records;
  Role m_role;
};

}  // namespace corvale::test
