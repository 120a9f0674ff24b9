#pragma once
// Writes what the user ticked in the found-file tree into a target folder: folders become
// directories, files get their data read from the source device through their data runs, and their
// modification and access times are set.
//
// The target folder belongs to the user. A recovered file or folder is always created new: nothing
// that is already there is ever replaced, truncated or removed; a name that is taken gets a counter
// ("name_000.ext"). Names from the disk become one plain entry each inside the folder they belong in
// (see OutputName.h). When a file cannot be recovered completely (a read or write fails, the disk is
// full, its runs do not hold its whole size, the user cancels in the middle of it) the partial file
// this run created is removed again and the file is counted as failed: a file in the target folder
// is either whole or not there.
//
// The recovery runs as root and writes into a folder that a user owns, and that user may change it
// while the job runs. So the target folder is opened once, through no link but root's or the user
// who asked (platform/FolderWalk.h), and every folder and file is made relative to the descriptor of
// the folder it goes in, one name at a time, never following a link: a folder swapped for a link
// fails its files instead of leading outside. What is made belongs to the person who asked,
// private to that person (platform/OutputOwner.h). Before a
// file is written its runs must hold its size and lie on the device, and its data must fit in the
// target disk's free space, which is looked at again while writing.
//
// A job runs on the thread that calls it: a caller that owns windows calls it from its job's worker
// (its window stays in its own event loop meanwhile). Progress and cancel go through
// IFileRecoverCallback, on that thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/FolderWalk.h"

class CFileNode;
class IFileRecoverCallback;
class IStorageDevice;

class CFileRecoverer {
 public:
  // Result of one file, and of a job.
  static constexpr int32_t kResultOk = 0;
  static constexpr int32_t kResultFailed = 1;
  static constexpr int32_t kResultCancelled = 2;

  // Device numbers (st_dev values) of the volumes the recovery reads from.
  using SourceDeviceQuery = std::function<std::vector<uint64_t>()>;

  CFileRecoverer() = default;
  CFileRecoverer(const CFileRecoverer&) = delete;
  CFileRecoverer& operator=(const CFileRecoverer&) = delete;

  // Recovers the checked part of the tree below `root` into a new folder named after the root inside
  // `targetFolder` (which is made when missing). The target folder is opened once per recoverer and
  // kept for the following calls with the same path; it is refused (kResultFailed, logged) when the
  // way to it leads through a link of a user other than root and the one who asked. Files whose
  // folder cannot be made, or lies deeper than the folder limit, go into the root's folder. A file
  // that fails is logged and the walk goes on; only a cancel stops it.
  // Returns kResultOk (also when the root is not checked, with nothing written), kResultCancelled,
  // or kResultFailed when the job could not run at all. *outPath, when given, receives the folder
  // the tree went into.
  int32_t RecoverFilesInThread(IStorageDevice* device, IFileRecoverCallback* callback, CFileNode* root,
                               const char* targetFolder, std::string* outPath = nullptr);

  // Recovers one file into `targetFilePath`, which must not exist yet; its folder is opened as the
  // target folder is. With `onWorker` the work runs on a thread of its own while the caller waits,
  // else on the calling thread. Recoveries of the same node are serialised across threads. Returns
  // 1 when the file was recovered, else 0; a cancelled one leaves no file.
  int32_t RecoverFileInThread(IStorageDevice* device, IFileRecoverCallback* callback, CFileNode* node,
                              const char* targetFilePath, bool onWorker);

  // The result of the last job: kResultOk, kResultFailed or kResultCancelled.
  int32_t GetResultCode() const { return m_resultCode.load(); }
  // Files of the last job written whole, and files that could not be.
  uint32_t GetRecoveredFileCount() const { return m_recovered.load(); }
  uint32_t GetFailedFileCount() const { return m_failed.load(); }

  // True when `path` (or, for a path that does not exist yet, its nearest existing folder) lies on
  // one of the volumes the recovery reads from, compared by device number. False without a source
  // query, for a path that cannot be examined, and when the query throws.
  static bool IsPathOnSourceDrive(const char* path);
  // Installs the question IsPathOnSourceDrive asks (the device selection of the current recovery
  // mode answers it); an empty function removes it.
  static void SetSourceDeviceQuery(SourceDeviceQuery query);

  // The same comparison for a given source device (a disk being imaged): true when `path` lies on
  // one of the volumes `device` reads from. False without a device query, as above.
  using DeviceNumbersQuery = std::function<std::vector<uint64_t>(IStorageDevice*)>;
  static bool IsPathOnDevice(const char* path, IStorageDevice* device);
  static void SetDeviceNumbersQuery(DeviceNumbersQuery query);

 private:
  // Runs `job` on a thread of its own and waits for it; `startFailure` when no thread could be
  // started.
  int32_t RunOnWorker(const std::function<int32_t()>& job, int32_t startFailure);

  static bool IsPathOnDevices(const char* path, const SourceDeviceQuery& query);
  // Opens (or keeps) the target folder of a tree job; false, logged, when it cannot be opened.
  bool OpenTarget(const std::string& target);

  platform::UniqueFd m_target;
  std::string m_targetPath;
  std::atomic<int32_t> m_resultCode{0};
  std::atomic<uint32_t> m_recovered{0};
  std::atomic<uint32_t> m_failed{0};
};
