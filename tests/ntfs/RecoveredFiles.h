#pragma once
// What a recovery wrote, read back for comparison with what ntfs-3g showed of a volume: each file's
// path relative to the partition's folder and its bytes, and the mapping of a volume's paths to the
// names the recovery gives them.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/OutputName.h"

namespace recovered {

inline constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A recovered file: where it came out, relative to the partition's folder, and its bytes.
struct Output {
  std::string path;
  std::string content;
  uint64_t mtime;  // as an NTFS time
};

inline std::vector<Output> ListOutputs(const std::filesystem::path& top) {
  std::vector<Output> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(top)) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    stat(e.path().c_str(), &st);
    const uint64_t mtime =
        uint64_t(st.st_mtim.tv_sec) * 10000000ull + uint64_t(st.st_mtim.tv_nsec) / 100 + kUnixEpochAsFileTime;
    out.push_back({std::filesystem::relative(e.path(), top).string(), ReadWhole(e.path()), mtime});
  }
  return out;
}

// A volume's path as the recovery writes it: every name made a plain entry of at most 247 bytes.
inline std::string OutputPath(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (!out.empty()) out += '/';
    out += corvale::MakeOutputName(path.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

// The path a recovered entry stands for: a counter that the duplicate-naming rules added to a
// folder ("again_000") or a file ("dup_000.txt") is taken off again where the plain name is one of
// the volume's paths.
inline std::string WithoutCounter(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t stemEnd = dot == std::string::npos || dot == 0 ? name.size() : dot;
  if (stemEnd < 4 || name[stemEnd - 4] != '_') return name;
  for (size_t i = stemEnd - 3; i < stemEnd; ++i)
    if (name[i] < '0' || name[i] > '9') return name;
  return name.substr(0, stemEnd - 4) + name.substr(stemEnd);
}

inline std::string PlainPath(const std::string& path, const std::set<std::string>& known) {
  std::string plain;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    const std::string stripped = WithoutCounter(part);
    if (stripped != part && known.count(plain.empty() ? stripped : plain + "/" + stripped)) part = stripped;
    plain = plain.empty() ? part : plain + "/" + part;
    start = slash + 1;
  }
  return plain;
}

}  // namespace recovered
