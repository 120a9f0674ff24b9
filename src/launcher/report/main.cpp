// QBXReport: the crash report the launcher starts after the main program crashed. It gathers what
// is known about the crash into "QBXReport.txt" in the program folder: when it happened, the dump
// files there, and the end of the run log; and it tells the user where the report is.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "platform/LauncherProtocol.h"
#include "platform/ProgramFolder.h"

namespace {

constexpr const char* kReportFileName = "QBXReport.txt";
// The end of the log that goes into the report: enough for the last steps before the crash.
constexpr off_t kLogTailBytes = 64 * 1024;

std::string LogTail(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return "(no log file)\n";
  struct stat st {};
  std::string tail;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    off_t start = st.st_size > kLogTailBytes ? st.st_size - kLogTailBytes : 0;
    std::vector<char> buffer(static_cast<size_t>(st.st_size - start));
    ssize_t n = pread(fd, buffer.data(), buffer.size(), start);
    if (n > 0) tail.assign(buffer.data(), static_cast<size_t>(n));
    // Start at a whole line when the tail was cut.
    if (start > 0) {
      size_t newline = tail.find('\n');
      tail.erase(0, newline == std::string::npos ? tail.size() : newline + 1);
    }
  }
  close(fd);
  return tail;
}

std::vector<std::string> DumpFiles(const std::string& folder) {
  std::vector<std::string> dumps;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.rfind("Qbxdump", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".dmp") == 0)
        dumps.push_back(name);
    }
    closedir(dir);
  }
  std::sort(dumps.begin(), dumps.end());
  return dumps;
}

}  // namespace

int main() {
  // Like the other programs it does not run as root from a folder that others could change.
  if (std::string problem = platform::UntrustedExecutableFolderText(); !problem.empty()) {
    std::fprintf(stderr, "QBXReport: %s\n", problem.c_str());
    return 1;
  }
  std::string folder = platform::ProgramFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "QBXReport: no program folder to write the report in\n");
    return 1;
  }
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char when[64];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);

  std::string report = "Corvale crash report\n";
  report += std::string("Time: ") + when + "\n";
  report += "Dump files:\n";
  for (const std::string& dump : DumpFiles(folder)) report += "  " + folder + dump + "\n";
  report += std::string("End of ") + corvale::kLogFileName + ":\n";
  report += LogTail(folder + corvale::kLogFileName);

  std::string path = folder + kReportFileName;
  std::string temporary = path + ".tmp";
  // The temporary file is made afresh, never through a link, and readable by the user alone: the
  // report quotes the log, which names the user's disks and files.
  std::remove(temporary.c_str());
  int fd = platform::OpenPrivateFile(temporary, O_WRONLY | O_CREAT | O_EXCL);
  FILE* out = fd >= 0 ? fdopen(fd, "w") : nullptr;
  if (fd >= 0 && !out) close(fd);
  bool ok = out && std::fwrite(report.data(), 1, report.size(), out) == report.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "QBXReport: cannot write %s\n", path.c_str());
    return 1;
  }
  std::fprintf(stderr, "Corvale ended unexpectedly. A report of the crash is in %s\n", path.c_str());
  return 0;
}
