// corvale-bench files-page [FILES [FOLDERS [BIG]]]: the file page over a synthetic found-file tree
// of FILES files (default 1,000,000) in FOLDERS folders (default 50,000), one of which holds BIG
// files (default 10,000). Measures, with the real widgets on Qt's offscreen platform: opening the
// page on the tree, revealing and listing the big folder, ticking the whole partition, scrolling the
// big folder's list from top to bottom in the report and the thumbnail view, Select and Deselect of
// the big folder's files, and freeing the tree. Run it with a smaller FILES and the same BIG to see
// which steps follow the size of the whole tree (only the tick of everything and the freeing should).

#include <QApplication>
#include <QScrollBar>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "controls/FileListCtrl.h"
#include "controls/FileSelectCtrlContainer.h"
#include "controls/FileTreeCtrl.h"
#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "storage/FileSystemCode.h"
#include "wizard/FileSelectPage.h"

namespace {

using Clock = std::chrono::steady_clock;

CMyFileProperties* Properties(const std::string& name, uint64_t size, uint16_t attributes) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  info.creationTime = info.time2 = info.time3 = 130000000000000000ull;
  info.validMask = 0x7F;
  return new CMyFileProperties(info);
}

struct Synthetic {
  CFileSystemNode* root = nullptr;
  CFileNode* big = nullptr;
};

// A root, one partition, 50 top folders each holding an equal share of the other folders; the big
// folder gets BIG files and the rest are spread over the other folders.
Synthetic Build(uint64_t files, uint64_t folders, uint64_t big) {
  Synthetic s;
  s.root = CreateFileSystemNode();
  s.root->SetName("Found files");
  s.root->SetFileProperties(Properties("Found files", 0, kAttributeFolder));
  CFileSystemNode* partition = CreateFileSystemNode();
  partition->SetName("Volume");
  partition->SetFileSystemType(kFileSystemNtfs);
  partition->SetFileProperties(Properties("Volume", 0, kAttributeFolder));
  s.root->AddChild(partition);
  std::vector<CFileNode*> all;
  all.reserve(folders);
  const uint64_t tops = std::min<uint64_t>(50, folders);
  std::vector<CFileNode*> top;
  for (uint64_t i = 0; i < tops; ++i) {
    CFileNode* f = partition->AddChild(CreateFileNode());
    f->SetFileProperties(Properties("Folder " + std::to_string(i), 0, kAttributeFolder));
    top.push_back(f);
    all.push_back(f);
  }
  for (uint64_t i = tops; i < folders; ++i) {
    CFileNode* f = top[i % tops]->AddChild(CreateFileNode());
    f->SetFileProperties(Properties("Sub " + std::to_string(i), 0, kAttributeFolder));
    all.push_back(f);
  }
  s.big = all.back();
  uint64_t made = 0;
  for (; made < big && made < files; ++made)
    s.big->AddChild(CreateFileNode())
        ->SetFileProperties(Properties("IMG_" + std::to_string(made) + ".jpg", 4096 + made, 0x20));
  for (uint64_t i = 0; made < files; ++made, ++i) {
    CFileNode* folder = all[i % (all.size() - 1)];
    folder->AddChild(CreateFileNode())
        ->SetFileProperties(Properties("file" + std::to_string(made) + ".txt", 1000, 0x20));
  }
  partition->RecountSummary();
  s.root->RecountSummary();
  return s;
}

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

// Scrolls a view from top to bottom a page at a time, painting each position.
int ScrollThrough(QAbstractItemView* view) {
  QScrollBar* bar = view->verticalScrollBar();
  int steps = 0;
  bar->setValue(0);
  Pump();
  while (bar->value() < bar->maximum()) {
    bar->setValue(bar->value() + std::max(1, bar->pageStep()));
    view->viewport()->repaint();
    Pump();
    ++steps;
  }
  return steps;
}

int RunFilePageBench(int argc, char** argv) {
  const uint64_t files = argc > 0 ? std::strtoull(argv[0], nullptr, 10) : 1000000;
  const uint64_t folders = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50000;
  const uint64_t big = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000;
  if (folders < 2 || files < big) {
    std::fprintf(stderr, "need at least 2 folders and FILES >= BIG\n");
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qargc = 1;
  char name[] = "corvale-bench";
  char* qargv[] = {name, nullptr};
  QApplication app(qargc, qargv);

  auto t = Clock::now();
  Synthetic tree = Build(files, folders, big);
  const double buildSeconds = SecondsSince(t);
  std::printf("tree:   %" PRIu64 " files in %" PRIu64 " folders built in %.3f s (not part of the page)\n",
              files, folders, buildSeconds);

  CFileSelectPage page;
  page.resize(1000, 520);
  page.show();
  Pump();

  t = Clock::now();
  page.SetFileTree(tree.root);
  Pump();
  page.repaint();
  const double openSeconds = SecondsSince(t);
  std::printf("open:   %.4f s, %zu tree rows made\n", openSeconds, page.Tree()->Model()->LoadedRowCount());

  t = Clock::now();
  QModelIndex item;
  page.Tree()->FindNodeItem(tree.big, &item);
  Pump();
  page.repaint();
  const double expandSeconds = SecondsSince(t);
  std::printf("expand: %.4f s to reveal and list the big folder (%d rows), %zu tree rows made\n",
              expandSeconds, page.List()->RowCount(), page.Tree()->Model()->LoadedRowCount());

  t = Clock::now();
  page.Tree()->ToggleItem(page.Tree()->Model()->index(0, 0));
  Pump();
  const double tickSeconds = SecondsSince(t);
  std::printf("tick:   %.4f s to tick the whole partition: %s\n", tickSeconds,
              page.SelectionText().toStdString().c_str());

  t = Clock::now();
  const int reportSteps = ScrollThrough(page.List()->ReportView());
  const double reportSeconds = SecondsSince(t);
  std::printf("scroll: report view, %d pages in %.4f s (%.2f ms a page)\n", reportSteps, reportSeconds,
              reportSteps ? 1000 * reportSeconds / reportSteps : 0.0);
  page.List()->OnCommand(CFileListCtrl::kCommandThumbnail);
  Pump();
  t = Clock::now();
  const int thumbSteps = ScrollThrough(page.List()->ThumbnailView());
  const double thumbSeconds = SecondsSince(t);
  std::printf(
      "scroll: thumbnail view, %d pages in %.4f s (%.2f ms a page), %zu thumbnails pending at the end\n",
      thumbSteps, thumbSeconds, thumbSteps ? 1000 * thumbSeconds / thumbSteps : 0.0,
      page.List()->PendingThumbnails().size());
  page.List()->OnCommand(CFileListCtrl::kCommandList);

  t = Clock::now();
  page.List()->OnCommand(CFileListCtrl::kCommandDeselect);
  page.List()->OnCommand(CFileListCtrl::kCommandSelect);
  Pump();
  const double selectSeconds = SecondsSince(t);
  std::printf("select: %.4f s to untick and tick the big folder's files\n", selectSeconds);

  t = Clock::now();
  page.Reset();
  const double freeSeconds = SecondsSince(t);
  std::printf("free:   %.3f s\n", freeSeconds);

  std::printf(
      "{\"bench\":\"files-page\",\"files\":%" PRIu64 ",\"folders\":%" PRIu64 ",\"big_folder\":%" PRIu64
      ",\"open_s\":%.4f,\"expand_s\":%.4f,\"tick_root_s\":%.4f,\"scroll_report_s\":%.4f,\"scroll_report_"
      "pages\":%d,\"scroll_thumbnails_s\":%.4f,\"scroll_thumbnail_pages\":%d,\"select_s\":%.4f,\"free_s\":%."
      "3f}\n",
      files, folders, big, openSeconds, expandSeconds, tickSeconds, reportSeconds, reportSteps, thumbSeconds,
      thumbSteps, selectSeconds, freeSeconds);
  return 0;
}

BenchRegistration registration("files-page", "[FILES [FOLDERS [BIG]]]", RunFilePageBench);

}  // namespace
