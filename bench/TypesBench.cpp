// corvale-bench types [QUERIES]: how fast the directory builds can ask whether a found file is
// wanted. The set of wanted extensions is filled as the file-type page leaves it when the user ticks
// the picture and document types (an include list), then 1 and 8 threads ask IsWantedFileType for a
// mix of found names, QUERIES times each (default 4,000,000); the same again with an exclude list.
// The log is open at the normal level throughout, and its growth is reported: queries must write
// nothing. Prints queries per second and a final JSON line.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "core/WantedFileType.h"
#include "platform/FileTypeExtensionSet.h"
#include "platform/Log.h"

namespace {

const std::vector<std::string> kChosen = {
    ".bmp",  ".cdr",  ".cpt", ".crw",  ".cur", ".dwg", ".dxf",  ".emf", ".eps", ".fh11", ".gif", ".ico",
    ".jpg",  ".jpeg", ".png", ".psd",  ".psp", ".tif", ".tiff", ".nef", ".doc", ".docx", ".hlp", ".htm",
    ".html", ".pdf",  ".ppt", ".pptx", ".rtf", ".xls", ".xlsx", ".vsd", ".wpd", ".one",  ".pub"};

// Names as a volume's directory build finds them: wanted and unwanted types, upper and lower case,
// no extension, several dots, long names.
const char* const kNames[] = {
    "IMG_0001.JPG",
    "holiday photo.jpeg",
    "Report 2021 final.docx",
    "notes.txt",
    "setup.exe",
    "archive.tar.gz",
    "Makefile",
    "movie.mkv",
    "scan0001.TIF",
    "thesis.v3.pdf",
    "libc.so.6",
    "budget.XLSX",
    "desktop.ini",
    "thumbs.db",
    "index.html",
    "song.mp3",
    "a-rather-long-file-name-that-someone-gave-their-presentation-about-the-quarterly-results.pptx",
    "DSC_4711.NEF",
    "~$temp.doc",
    ".hidden"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Queries per second over `threads` threads asking `queries` names each; `wanted` counts the yes.
double Measure(int threads, uint64_t queries, uint64_t* wanted) {
  std::atomic<uint64_t> yes{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      uint64_t mine = 0;
      for (uint64_t i = 0; i < queries; ++i)
        mine += IsWantedFileType(kNames[(i + static_cast<uint64_t>(t)) % kNameCount], false) ? 1 : 0;
      yes += mine;
    });
  for (std::thread& worker : workers) worker.join();
  const double seconds = SecondsSince(start);
  *wanted = yes.load();
  return seconds > 0 ? static_cast<double>(queries) * threads / seconds : 0;
}

int Run(int argc, char** argv) {
  const uint64_t queries = argc > 0 ? std::strtoull(argv[0], nullptr, 10) : 4000000;
  if (queries == 0) {
    std::fprintf(stderr, "types: QUERIES must be a positive number\n");
    return 2;
  }
  char folder[] = "/tmp/corvale-bench-types-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("types: mkdtemp");
    return 1;
  }
  const std::string log = std::string(folder) + "/CorvaleDataRecovery.log";
  InitLog(log.c_str(), LOGLEVEL_NORMAL, 0);
  LogInfo("types bench start\n");
  const uint64_t logBefore = FileSize(log);

  struct Figure {
    const char* name;
    int32_t mode;
    int threads;
    double qps;
    uint64_t wanted;
  };
  std::vector<Figure> figures = {{"include_1", 1, 1, 0, 0},
                                 {"include_8", 1, 8, 0, 0},
                                 {"exclude_1", 2, 1, 0, 0},
                                 {"exclude_8", 2, 8, 0, 0}};
  for (Figure& f : figures) {
    GetFileTypeExtensionSet().Rebuild(f.mode, kChosen);
    f.qps = Measure(f.threads, queries, &f.wanted);
    std::printf("%-10s %d thread(s): %12.0f queries/s, %" PRIu64 " of %" PRIu64 " wanted\n", f.name,
                f.threads, f.qps, f.wanted, queries * static_cast<uint64_t>(f.threads));
  }
  const uint64_t logGrowth = FileSize(log) - logBefore;
  std::printf("log growth during the queries at the normal level: %" PRIu64 " bytes\n", logGrowth);
  GetFileTypeExtensionSet().Clear();
  unlink(log.c_str());
  rmdir(folder);

  std::printf("{\"bench\":\"types\",\"queries_per_thread\":%" PRIu64, queries);
  for (const Figure& f : figures) std::printf(",\"%s_qps\":%.0f", f.name, f.qps);
  std::printf(",\"log_bytes\":%" PRIu64 "}\n", logGrowth);
  return 0;
}

BenchRegistration registration("types", "[QUERIES]", Run);

}  // namespace
