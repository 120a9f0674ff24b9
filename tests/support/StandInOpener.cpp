#include "support/StandInOpener.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/DesktopOpen.h"
#include "support/Programs.h"

namespace fs = std::filesystem;

namespace corvale::test {

ScopedVariables::ScopedVariables(std::initializer_list<std::pair<const char*, const char*>> values) {
  for (const auto& [name, value] : values) Set(name, value);
}

ScopedVariables::~ScopedVariables() {
  for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
    if (it->second)
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    else
      ::unsetenv(it->first.c_str());
  }
}

void ScopedVariables::Set(const char* name, const char* value) {
  const char* old = std::getenv(name);
  m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  if (value)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

StandInOpener::StandInOpener(int exitStatus, Role role) : m_role(role) {
  if (m_dir.path().empty()) return;
  m_records = m_dir.path() + "/records";
  ::mkdir(m_records.c_str(), 0700);
  ::chmod(m_records.c_str(), 01777);
  const std::string program = m_dir.path() + (role == Role::kOpener ? "/xdg-open" : "/dbus-send");
  {
    std::ofstream script(program);
    // A record is written under a temporary name and renamed, so a reader never sees half of one;
    // the sequence number in its name keeps the order of the runs.
    script << "#!/bin/sh\n"
           << "n=$(date +%s%N)-$$\n"
           << "r='" << m_records << "'/$n\n"
           << "{\n"
           << "  echo \"uid=$(id -u)\"\n"
           << "  echo \"gid=$(id -g)\"\n"
           << "  echo \"groups=$(id -G)\"\n"
           << "  echo \"cwd=$(pwd)\"\n"
           << "  for f in /proc/$$/fd/*; do echo \"fd=$(readlink \"$f\")\"; done\n"
           << "  for a in \"$@\"; do echo \"arg=$a\"; done\n"
           << "  env | sed 's/^/env=/'\n"
           << "} > \"$r.part\" && mv \"$r.part\" \"$r.rec\"\n"
           << "exit " << exitStatus << "\n";
  }
  ::chmod(program.c_str(), 0755);
  m_program = program;
  if (role == Role::kOpener)
    platform::SetDesktopOpenerForTesting(m_program);
  else
    platform::SetItemShowerForTesting(m_program);
}

StandInOpener::~StandInOpener() {
  if (m_role == Role::kOpener)
    platform::SetDesktopOpenerForTesting("");
  else
    platform::SetItemShowerForTesting("");
}

std::vector<StandInOpener::Record> StandInOpener::Records() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(m_records, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".rec") == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<Record> records;
  for (const std::string& name : names) {
    std::ifstream in(m_records + "/" + name);
    Record record;
    std::string line;
    while (std::getline(in, line)) {
      const size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = line.substr(0, equals);
      const std::string value = line.substr(equals + 1);
      if (key == "uid") {
        record.uid = static_cast<unsigned>(std::stoul(value));
      } else if (key == "gid") {
        record.gid = static_cast<unsigned>(std::stoul(value));
      } else if (key == "groups") {
        record.groups = value;
      } else if (key == "cwd") {
        record.cwd = value;
      } else if (key == "fd") {
        record.openFiles.push_back(value);
      } else if (key == "arg") {
        record.args.push_back(value);
      } else if (key == "env") {
        const size_t inner = value.find('=');
        if (inner != std::string::npos) record.env[value.substr(0, inner)] = value.substr(inner + 1);
      }
    }
    records.push_back(std::move(record));
  }
  return records;
}

bool StandInOpener::WaitFor(size_t count, int timeoutMs) const {
  return WaitUntil([&] { return Records().size() >= count; }, timeoutMs);
}

void StandInOpener::Clear() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(m_records, ec)) fs::remove(entry.path(), ec);
}

}  // namespace corvale::test
