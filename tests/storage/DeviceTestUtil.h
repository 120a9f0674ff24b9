#pragma once
// Helpers shared by the device tests: file bytes, the access mode of the descriptors a device
// holds, a partition-scanned loop device, and the bad-sector switch.

#include <fcntl.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/RecoveryContext.h"
#include "support/Fixtures.h"

namespace devtest {

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::error_code ec;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::filesystem::file_size(path, ec)));
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// The access modes (O_RDONLY, O_WRONLY, O_RDWR) of every descriptor of this process open on `path`,
// from /proc/self/fdinfo.
inline std::vector<int> AccessModesOfDescriptorsOn(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path wanted = fs::canonical(path, ec);
  std::vector<int> modes;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    fs::path target = fs::read_symlink(entry.path(), linkError);
    if (linkError || target != wanted) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    std::string key;
    while (info >> key) {
      if (key == "flags:") {
        std::string octal;
        info >> octal;
        modes.push_back(static_cast<int>(std::stoul(octal, nullptr, 8)) & O_ACCMODE);
        break;
      }
    }
  }
  return modes;
}

// Sets the "ignore bad sectors" option for one test and puts it back afterwards.
class ScopedIgnoreBadSectors {
 public:
  explicit ScopedIgnoreBadSectors(bool on) : m_previous(GetRecoveryContext().IgnoreBadSectors) {
    GetRecoveryContext().IgnoreBadSectors = on ? 1 : 0;
  }
  ~ScopedIgnoreBadSectors() { GetRecoveryContext().IgnoreBadSectors = m_previous; }

 private:
  int32_t m_previous;
};

// A read-only loop device whose partitions the kernel knows. Where the loop driver's own scan does
// not run (some containers), partx adds them.
class PartitionedLoop {
 public:
  PartitionedLoop(const std::string& image, int expectedPartitions) {
    std::string out;
    if (corvale::test::RunCommand("losetup -f --show -r -P '" + image + "' 2>&1", &out) != 0) {
      m_error = out;
      return;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    m_path = out;
    const std::string name = std::filesystem::path(m_path).filename().string();
    for (int i = 0; i < 100; ++i) {
      if (i == 10) corvale::test::RunCommand("partx -a '" + m_path + "' 2>/dev/null");
      if (std::filesystem::exists("/sys/block/" + name + "/" + name + "p" +
                                  std::to_string(expectedPartitions)))
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_error = "the kernel did not scan the partitions of " + m_path;
  }
  ~PartitionedLoop() {
    if (!m_path.empty()) corvale::test::RunCommand("losetup -d '" + m_path + "' 2>/dev/null");
  }
  PartitionedLoop(const PartitionedLoop&) = delete;
  PartitionedLoop& operator=(const PartitionedLoop&) = delete;
  bool ok() const { return !m_path.empty() && m_error.empty(); }
  const std::string& path() const { return m_path; }
  const std::string& error() const { return m_error; }

 private:
  std::string m_path;
  std::string m_error;
};

}  // namespace devtest
