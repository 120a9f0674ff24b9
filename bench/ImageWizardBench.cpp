// corvale-bench image-wizard IMAGE OUTDIR: IMAGE imaged twice with the settings of the create-image
// wizard's simple mode (zlib at its default level, 4 GiB parts): once straight through the image
// writer as `image` does, once through the wizard's own run (its worker thread, its progress timer,
// its free-space check before every chunk) in an offscreen window. Prints MB/s of both, their
// ratio, the processor time each path took (all threads; the smaller of the two rounds), which a
// busy machine sways far less than MB/s, and of it the window thread's own share, and the longest time the
// window's event loop went without running (a 10 ms timer's largest gap); ends with one JSON line. With
// --wizard-first the wizard goes first in each round, so that runs with either order can be set side by side.
//
// The window's event loop waits for events between them, as the modal wizard's own loop does: a
// loop that polled instead would keep a core busy that the writer's threads could have had.
#include <sys/resource.h>

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/Bench.h"
#include "dialogs/ImageDiskMasterDlg.h"
#include "storage/CompressController.h"
#include "storage/ImageFile.h"
#include "storage/ImageFileDevice.h"

namespace {

// Processor seconds used so far, user and system: by this process (all threads), or by the
// calling thread alone.
double CpuSeconds(int who = RUSAGE_SELF) {
  struct rusage usage {};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RemoveImage(const std::string& descriptor, uint32_t parts) {
  std::error_code ec;
  for (uint32_t p = 0; p < parts + 1; ++p)
    std::filesystem::remove(corvale::image::PartFilePath(descriptor, p), ec);
  std::filesystem::remove(corvale::image::PartListPath(descriptor), ec);
  std::filesystem::remove(descriptor, ec);
}

int RunImageWizardBench(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvale-bench image-wizard IMAGE OUTDIR [--wizard-first]\n");
    return 2;
  }
  const std::string path = argv[0];
  const std::string outdir = std::filesystem::absolute(argv[1]).string();
  const bool wizardFirst = argc > 2 && std::string(argv[2]) == "--wizard-first";
  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qargc = 1;
  char name[] = "corvale-bench";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);

  WarmPageCache(path);
  CImageFileDevice source(path);
  if (!source.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return 1;
  }
  const uint64_t sectors = static_cast<uint64_t>(source.GetSectorCount());
  const double megabytes = static_cast<double>(sectors) * 512 / 1e6;

  // Each path twice, alternating, the better time of each counted: the machine's other work and the
  // disk's write-back of the run before weigh on whichever comes second.
  double directSeconds = 0;
  double wizardSeconds = 0;
  double longestGapMs = 0;
  double directCpu = 0;
  double wizardCpu = 0;
  uint64_t freeSpaceLooks = 0;
  double windowCpu = 0;
  bool directMade = true;
  bool wizardMade = true;
  const auto runDirect = [&](int round) {
    const std::string direct = outdir + "/direct.kbi";
    CCompressController writer;
    writer.SetSource(&source, path.c_str(), 0, sectors, 255);
    writer.SetCompressParam(2, -1, 8388600);
    writer.SetImageFilePath(direct);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    directMade = writer.Compress(nullptr) && directMade;
    const double seconds = SecondsSince(start);
    const double cpu = CpuSeconds() - cpuStart;
    directCpu = round == 0 ? cpu : std::min(directCpu, cpu);
    directSeconds = round == 0 ? seconds : std::min(directSeconds, seconds);
    RemoveImage(direct, writer.GetPartsCreated());
  };
  // Through the wizard, with a timer that tells how often the window got to run.
  const auto runWizard = [&](int round) {
    const std::string stem = outdir + "/wizard";
    CImageDiskMasterDlg wizard(&source, path, 255);
    wizard.show();
    wizard.OnNext();
    wizard.PathPage()->PathEdit()->setText(QString::fromStdString(stem));
    wizard.OnNext();
    bool made = wizard.GetStep() == CImageDiskMasterDlg::kSummary;
    if (made) {
      QEventLoop loop;
      auto last = std::chrono::steady_clock::now();
      QTimer ticker;
      QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        longestGapMs = std::max(longestGapMs, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        if (wizard.GetStep() != CImageDiskMasterDlg::kRun || !wizard.isVisible()) loop.quit();
      });
      ticker.start(10);
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = CpuSeconds();
      const double windowCpuStart = CpuSeconds(RUSAGE_THREAD);
      last = start;
      wizard.OnNext();
      if (wizard.GetStep() == CImageDiskMasterDlg::kRun && wizard.isVisible()) loop.exec();
      const double seconds = SecondsSince(start);
      const double cpu = CpuSeconds() - cpuStart;
      wizardCpu = round == 0 ? cpu : std::min(wizardCpu, cpu);
      const double window = CpuSeconds(RUSAGE_THREAD) - windowCpuStart;
      windowCpu = round == 0 ? window : std::min(windowCpu, window);
      wizardSeconds = round == 0 ? seconds : std::min(wizardSeconds, seconds);
      ticker.stop();
      made = wizard.GetStep() == CImageDiskMasterDlg::kSuccess;
      freeSpaceLooks = wizard.RunPage()->FreeSpaceLooks();
    }
    wizardMade = made && wizardMade;
    RemoveImage(stem + ".kbi", 58);
  };
  for (int round = 0; round < 2; ++round) {
    if (wizardFirst) {
      runWizard(round);
      runDirect(round);
    } else {
      runDirect(round);
      runWizard(round);
    }
  }

  const double directMBps = directSeconds > 0 ? megabytes / directSeconds : 0;
  const double wizardMBps = wizardSeconds > 0 ? megabytes / wizardSeconds : 0;
  std::printf("image-wizard %s: %.1f MB\n", path.c_str(), megabytes);
  std::printf("  writer  %8.1f MB/s (%.3f s, %.2f cpu s)%s\n", directMBps, directSeconds, directCpu,
              directMade ? "" : "  FAILED");
  std::printf("  wizard  %8.1f MB/s (%.3f s, %.2f cpu s), window's longest wait %.1f ms%s\n", wizardMBps,
              wizardSeconds, wizardCpu, longestGapMs, wizardMade ? "" : "  FAILED");
  std::printf("  the window's thread: %.3f cpu s of the wizard's\n", windowCpu);
  std::printf("  free-space looks in the wizard's last run: %llu for %llu chunks\n",
              static_cast<unsigned long long>(freeSpaceLooks),
              static_cast<unsigned long long>((sectors + corvale::image::kSectorsPerChunk - 1) /
                                              corvale::image::kSectorsPerChunk));
  std::printf("  wizard / writer: %.2f MB/s, %.3f cpu\n", directMBps > 0 ? wizardMBps / directMBps : 0,
              directCpu > 0 ? wizardCpu / directCpu : 0);
  std::printf(
      "{\"bench\":\"image-wizard\",\"mb\":%.1f,\"writer_mbps\":%.1f,\"wizard_mbps\":%.1f,\"ratio\":%.3f,"
      "\"writer_cpu_s\":%.3f,\"wizard_cpu_s\":%.3f,\"window_cpu_s\":%.3f,\"free_space_looks\":%llu,\"longest_"
      "event_gap_ms\":%.1f,"
      "\"ok\":%s}\n",
      megabytes, directMBps, wizardMBps, directMBps > 0 ? wizardMBps / directMBps : 0, directCpu, wizardCpu,
      windowCpu, static_cast<unsigned long long>(freeSpaceLooks), longestGapMs,
      directMade && wizardMade ? "true" : "false");
  return directMade && wizardMade ? 0 : 1;
}

const BenchRegistration kImageWizard("image-wizard", "IMAGE OUTDIR [--wizard-first]", RunImageWizardBench);

}  // namespace
