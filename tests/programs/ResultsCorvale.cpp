// A stand-in for the main program that makes what a person asks the program for, with the
// program's own code: a recovery into a new folder, a disk image and an exported result bundle. The
// launcher's tests start it through the real launcher, to see whose these results are.
//
// The folder to work in is the one line of "results-corvale.folder" beside the executable (the
// launcher passes no test variables on). There it makes:
//   recovered/new/      a recovery of a one-file tree (the folder "new" is made by the recovery)
//   images/disk.kbi     a disk image (with its .kbp and part file) of a small device
//   exports/scan.rsf    a result bundle of the state files in state/
// and writes "done" into the file "finished" when all three were made, else what failed.
#include <unistd.h>

#include <fstream>
#include <string>

#include "RecoveryHelpers.h"
#include "core/FileRecoverer.h"
#include "core/StateBundle.h"
#include "storage/CompressController.h"
#include "storage/MemoryDevice.h"

int main() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 97;
  std::string own(self, static_cast<size_t>(n));
  own = own.substr(0, own.rfind('/') + 1);
  std::string folder;
  std::getline(std::ifstream(own + "results-corvale.folder"), folder);
  if (folder.empty()) return 98;

  std::string failed;
  MemoryDevice device(recoverytest::PatternBytes(1 << 20), 512);

  recoverytest::TreeOwner tree;
  tree.root = treetest::MakePartition("D:", 3, 64, 2);
  recoverytest::AddFile(tree.root, "a.txt", 1000, {{1, 1}});
  recoverytest::CheckAll(tree.root);
  CFileRecoverer recoverer;
  if (recoverer.RecoverFilesInThread(&device, nullptr, tree.root, (folder + "/recovered/new").c_str()) !=
          CFileRecoverer::kResultOk ||
      recoverer.GetRecoveredFileCount() != 1)
    failed += "recovery ";

  CCompressController writer;
  writer.SetSource(&device, "small", 0, 2048, 255);
  writer.SetCompressParam(2, 1, 0);
  writer.SetImageFilePath(folder + "/images/disk.kbi");
  if (!writer.Compress(nullptr)) failed += "image(" + writer.GetErrorText() + ") ";

  CStateBundle bundle(true, folder + "/state");
  if (!bundle.Save(folder + "/exports/scan.rsf")) failed += "export ";

  std::ofstream(folder + "/finished") << (failed.empty() ? "done" : failed) << "\n";
  return failed.empty() ? 0 : 1;
}
