// corvale-bench preview-index [FOLDER]: the text preview's line index of a 100 MiB file, for three
// files made in FOLDER (default: the temporary folder): all line feeds (the most lines), lines of
// 40 bytes, and no line feed at all (wrapped lines). Prints per file the time to open it and build
// the index, the lines and kept starts, the time to show a page in its middle, and the growth of
// the peak resident size, and ends with a JSON line.

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/Bench.h"
#include "dialogs/FilePreviewViews.h"

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string MakeFile(const std::string& folder, const char* name, const std::string& pattern) {
  const std::string path = folder + "/corvale-bench-" + name + ".txt";
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string block;
  while (block.size() < (1 << 20)) block += pattern;
  block.resize(1 << 20);
  for (uint64_t at = 0; at < CTextFilePreViewEdit::kMaxFileSize; at += block.size()) out << block;
  return path;
}

int Run(int argc, char** argv) {
  const std::string folder = argc > 2 ? argv[2] : QDir::tempPath().toStdString();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  struct Kind {
    const char* name;
    std::string pattern;
  } kinds[] = {{"feeds", "\n"}, {"short", std::string(39, 's') + "\n"}, {"wrapped", "w"}};
  std::string json = "{\"bench\":\"preview-index\"";
  for (const Kind& kind : kinds) {
    const std::string path = MakeFile(folder, kind.name, kind.pattern);
    const long before = PeakKilobytes();
    CTextFilePreViewEdit view;
    view.SetVisibleLines(40);
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = view.Load(path);
    const double load = SecondsSince(start);
    const auto renderStart = std::chrono::steady_clock::now();
    const QString page = view.RenderText(view.GetLineCount() / 2 + 129);
    const double render = SecondsSince(renderStart);
    const long grown = PeakKilobytes() - before;
    std::printf("%-8s loaded=%d lines=%lld kept=%zu index=%zu KiB load=%.3f s page=%.3f ms peak+%ld KiB\n",
                kind.name, loaded, static_cast<long long>(view.GetLineCount()), view.IndexEntries(),
                view.IndexEntries() * sizeof(uint32_t) / 1024, load, render * 1000, grown);
    char part[256];
    std::snprintf(
        part, sizeof part,
        ",\"%s\":{\"lines\":%lld,\"kept\":%zu,\"load_s\":%.4f,\"page_ms\":%.4f,\"peak_growth_kib\":%ld}",
        kind.name, static_cast<long long>(view.GetLineCount()), view.IndexEntries(), load, render * 1000,
        grown);
    json += part;
    (void)page;
    ::unlink(path.c_str());
  }
  std::printf("%s}\n", json.c_str());
  return 0;
}

BenchRegistration registration("preview-index", "preview-index [FOLDER]", Run);

}  // namespace
