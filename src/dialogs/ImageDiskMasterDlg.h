#pragma once
// The disk-image create wizard: a banner over a stack of pages (mode, summary, destination in the
// simple and in the advanced mode, region, run, success) and the Back, Next and Cancel buttons.
// The master runs the step machine and the checks that need more than one page.
//
// The imaging itself runs on a worker thread; the run page reads the worker's progress from a
// timer, so the window stays responsive and Cancel works at any time. A run that does not end with
// a whole image never reports success: what it wrote is kept as a partial image, readable up to the
// sector the wizard names, and the user is asked whether to keep it or remove it.

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "controls/SearchSuperDlg.h"
#include "core/JobGate.h"
#include "storage/CompressCallBack.h"

class CCompressController;
class CSectorSelectCtrl;
class IStorageDevice;
class QCheckBox;
class QHBoxLayout;
class QLayout;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QSpinBox;
class QStackedWidget;
class QTimer;
class QVBoxLayout;

namespace corvale::dialogs {
// How the image wizards ask for a file: `save` for a new file. Returns the chosen path, empty when
// cancelled. Tests replace it (null: the system's file dialogs). Returns the previous chooser.
using ImageFileChooser = std::function<std::string(QWidget* parent, bool save, const std::string& defaultName,
                                                   const std::string& filter)>;
ImageFileChooser SetImageFileChooser(ImageFileChooser chooser);
std::string ChooseImageFile(QWidget* parent, bool save, const std::string& defaultName,
                            const std::string& filter);
// Free space of the folder holding `path` in MiB; 0 when it cannot be read (or the folder is
// reached through a link of another user).
uint32_t GetFreeSpaceMiB(const std::string& path);
// Free space of the opened folder `folder` in MiB; 0 when it cannot be read.
uint32_t FreeSpaceMiB(int folder);
// The margins of the image wizards' pages and banner.
void SetWizardPageMargins(QLayout* layout);
// The row of a wizard's Back, Next and Cancel buttons, at the right end.
QHBoxLayout* MakeWizardButtonRow(QPushButton* back, QPushButton* next, QPushButton* cancel);
}  // namespace corvale::dialogs

// What the summary page shows and the run writes.
struct ImageSummary {
  std::string sourceName;
  uint64_t totalSectors = 0;
  uint64_t regionStart = 0;
  uint64_t regionEnd = 0;  // inclusive
  std::string destinationPath;
  int32_t compressionLevel = -1;
};

// The base of the image wizards' pages: which page Next and Back lead to.
class CInterfaceDialog : public QWidget {
  Q_OBJECT
 public:
  explicit CInterfaceDialog(QWidget* parent = nullptr);
  virtual int GetNextIndex() { return 0; }
  virtual int GetPrevIndex() { return 0; }
};

// The banner over both wizards' pages.
class CDIskImagePublicDlg : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTitleId = 1141;
  explicit CDIskImagePublicDlg(QWidget* parent = nullptr);
  void SetBannerTitle(const std::string& text);
  std::string GetBannerTitle() const;

 private:
  QLabel* m_title = nullptr;
};

// The up-down control beside an edit: its arrows, and the Up and Down keys in the edit, report a
// change of position, -1 for up and +1 for down (the order of the system's control).
class CUpDownCtrl : public QWidget {
  Q_OBJECT
 public:
  explicit CUpDownCtrl(QWidget* parent = nullptr);
  // The edit whose Up and Down keys act on this control.
  void SetBuddy(QWidget* buddy);
  QWidget* UpButton() const { return m_up; }
  QWidget* DownButton() const { return m_down; }

 signals:
  void deltaPos(int delta);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* m_up = nullptr;
  QWidget* m_down = nullptr;
  QWidget* m_buddy = nullptr;
};

class CImageDiskModeChooseDlg : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit CImageDiskModeChooseDlg(QWidget* parent = nullptr);
  bool IsAdvancedMode() const;
  void SetSourceName(const std::string& name);
  QCheckBox* AdvancedBox() const { return m_advanced; }
  // The name of the disk being imaged, as the page shows it.
  QLabel* SourceLabel() const { return m_source; }
  QLabel* WelcomeLabel() const { return m_welcome; }

 private:
  QLabel* m_welcome = nullptr;
  QCheckBox* m_advanced = nullptr;
  QLabel* m_source = nullptr;
};

class CImageDiskPathChooseDlg : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit CImageDiskPathChooseDlg(QWidget* parent = nullptr, bool withPathRow = true);
  int GetNextIndex() override { return 1; }
  // The path with ".kbi" appended when it lacks that ending; the edit box shows the result.
  std::string GetImageFilePath();
  QLineEdit* PathEdit() const { return m_path; }
  QPushButton* BrowseButton() const { return m_browse; }
  void Browse();

 protected:
  // The file-name text, the edit `editId` and the browse button `browseId`.
  void AddPathRow(int editId, int browseId);
  QVBoxLayout* m_layout = nullptr;
  QLineEdit* m_path = nullptr;
  QPushButton* m_browse = nullptr;
};

class CImageDiskADPathChooseDlg : public CImageDiskPathChooseDlg {
  Q_OBJECT
 public:
  explicit CImageDiskADPathChooseDlg(QWidget* parent = nullptr);
  int GetNextIndex() override { return 4; }
  // Slice size in 512-byte units, compressor type, compression level.
  void GetImageSettings(int32_t& sliceSize, int32_t& compressorType, int32_t& level) const;
  QCheckBox* SplitBox() const { return m_split; }
  QCheckBox* CompressBox() const { return m_compress; }
  QComboBox* SliceList() const { return m_slices; }
  QComboBox* LevelList() const { return m_levels; }

 private:
  QCheckBox* m_split = nullptr;
  QCheckBox* m_compress = nullptr;
  QComboBox* m_slices = nullptr;
  QComboBox* m_levels = nullptr;
};

class CImageDiskSetRegionDlg : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit CImageDiskSetRegionDlg(QWidget* parent = nullptr);
  int GetNextIndex() override { return 1; }
  int GetPrevIndex() override { return 3; }
  void SetTotalSectors(uint64_t total);
  uint64_t GetStart() const { return m_start; }
  uint64_t GetEnd() const { return m_end; }
  CSectorSelectCtrl* Selector() const { return m_selector; }
  QLineEdit* StartEdit() const { return m_startEdit; }
  QLineEdit* EndEdit() const { return m_endEdit; }
  CUpDownCtrl* StartUpDown() const { return m_startUpDown; }
  CUpDownCtrl* EndUpDown() const { return m_endUpDown; }
  void StepStart(int delta);
  void StepEnd(int delta);

 private:
  void OnSelectorChanged();
  void OnStartEdited();
  void OnEndEdited();
  void ApplyToSelector();

  CSectorSelectCtrl* m_selector = nullptr;
  QLineEdit* m_startEdit = nullptr;
  QLineEdit* m_endEdit = nullptr;
  CUpDownCtrl* m_startUpDown = nullptr;
  CUpDownCtrl* m_endUpDown = nullptr;
  uint64_t m_total = 0;
  uint64_t m_highest = 0;
  uint64_t m_start = 0;
  uint64_t m_end = 0;
  bool m_updating = false;
};

class CImageDiskDiskInfo : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit CImageDiskDiskInfo(QWidget* parent = nullptr);
  int GetNextIndex() override { return 5; }
  int GetPrevIndex() override { return m_prev; }
  void SetPrevIndex(int index) { m_prev = index; }
  void ShowSummary(const ImageSummary& summary, int32_t sectorSize);
  std::string ValueText(int id) const;

 private:
  int m_prev = 2;
  QLabel* m_values[6] = {};
};

class CImageDiskRunDlg : public CInterfaceDialog, public ICompressCallBack {
  Q_OBJECT
 public:
  static constexpr uint32_t kLowSpaceMiB = 20;
  // The target's free space is known from the last look less what the run wrote since. The file
  // system is asked again before a chunk when that estimate is within this margin of the limit, or
  // when the last look is older than kFreeSpaceLookInterval (other programs write too).
  static constexpr uint64_t kFreeSpaceMarginMiB = 64;
  static constexpr std::chrono::milliseconds kFreeSpaceLookInterval{200};
  explicit CImageDiskRunDlg(QWidget* parent = nullptr);
  ~CImageDiskRunDlg() override;

  // Starts the imaging on a worker thread; `done` is called on this thread when it has ended.
  // `replaceExisting`: the user agreed to replace files of the image that exist already.
  void Start(IStorageDevice* source, const ImageSummary& summary, int32_t sourceKind, int32_t compressorType,
             int32_t level, int32_t sliceSize, bool replaceExisting, std::function<void(bool made)> done);
  bool IsRunning() const { return m_worker.joinable(); }
  void SetCancel(bool cancel);
  // Holds the writer before its next chunk while a question is open, and stops the time count.
  void SetPaused(bool paused);
  bool IsPaused() const { return m_gate.IsHeld(); }
  // True while the writer waits at the hold.
  bool IsWriterHeld() const { return m_gate.IsHeld() && m_gate.IsWorkerWaiting(); }
  // Cancels the run without waiting: the writer stops before its next chunk and the run ends as
  // usual, keeping what it wrote.
  void RequestCancel();
  // Sets the cancel flag and waits until the worker has stopped.
  void CancelAndWait();
  bool IsAborted() const { return m_aborted; }
  std::string GetErrorText() const;
  CCompressController* GetImageWriter() const { return m_writer.get(); }
  QProgressBar* Progress() const { return m_progress; }
  std::string RemainingText() const;
  // Remaining time "%02d:%02d:%02d" for `total` chunks of which `done` took `elapsedMs`.
  static std::string FormatRemaining(uint64_t total, uint64_t done, uint64_t elapsedMs);
  // `path` whole when it has at most 40 bytes, else its first 40 bytes and ".........".
  static std::string ShortPath(const std::string& path);

  // The writer's callback, called on the worker thread. Asked before every chunk: waits there while
  // the run is paused.
  bool IsCancelled() override {
    m_gate.Pass();
    return m_cancel;
  }
  void SetPos(int64_t chunk) override { m_done = static_cast<uint64_t>(chunk) + 1; }
  void SetRange(int64_t first, int64_t last) override;
  bool NeedNewPart() override;
  void AddWritten(uint32_t bytes) override { m_writtenSinceLook += bytes; }
  // How many times the run asked the file system for the target's free space.
  uint64_t FreeSpaceLooks() const { return m_freeSpaceLooks; }

 private:
  void OnTimer();
  void AskForNewLocation();
  void Finish();

  std::unique_ptr<CCompressController> m_writer;
  IStorageDevice* m_source = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_remaining = nullptr;
  QLabel* m_freeSpace = nullptr;
  QLabel* m_currentFile = nullptr;
  QTimer* m_timer = nullptr;
  std::thread m_worker;
  std::function<void(bool)> m_doneCallback;
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_finished{false};
  CJobGate m_gate;
  // The time the run stood paused, left out of the remaining-time estimate (window thread only).
  std::chrono::steady_clock::duration m_pausedFor{};
  std::chrono::steady_clock::time_point m_pausedSince{};
  std::atomic<uint64_t> m_total{0};
  std::atomic<uint64_t> m_done{0};
  std::atomic<uint32_t> m_freeMiB{0};
  // Worker only: the free space at the last look, what was written since, and when it was.
  uint64_t m_freeBytesAtLook = 0;
  uint64_t m_writtenSinceLook = 0;
  std::chrono::steady_clock::time_point m_lastLook{};
  std::atomic<uint64_t> m_freeSpaceLooks{0};
  bool m_aborted = false;
  bool m_made = false;
  bool m_watch = false;
  std::string m_watchedPath;
  std::chrono::steady_clock::time_point m_begin;
  // The worker waits here when the target runs low, until the window thread has decided.
  std::mutex m_mutex;
  std::condition_variable m_decided;
  bool m_lowSpace = false;
  bool m_asking = false;
  int m_decision = 0;  // 1 go on in a new part, 2 stop
};

class CImageDiskSuccessDlg : public CInterfaceDialog {
  Q_OBJECT
 public:
  explicit CImageDiskSuccessDlg(QWidget* parent = nullptr);
  void ShowImagePath(const std::string& path);
  bool IsOpenInDeviceList() const;
  QCheckBox* OpenBox() const { return m_open; }

 private:
  QLabel* m_path = nullptr;
  QCheckBox* m_open = nullptr;
};

class CImageDiskMasterDlg : public CSearchSuperDlg {
  Q_OBJECT
 public:
  // The help topic of the disk-image wizards, opened by F1.
  static constexpr int kHelpTopic = 20;
  static constexpr int kTemplateId = 215;
  enum Step { kMode = 0, kSummary = 1, kPath = 2, kAdvancedPath = 3, kRegion = 4, kRun = 5, kSuccess = 6 };

  // `sourceKind` is the disk number for a whole disk, 255 for a volume.
  CImageDiskMasterDlg(IStorageDevice* source, const std::string& displayName, int32_t sourceKind,
                      QWidget* parent = nullptr);
  ~CImageDiskMasterDlg() override;

  bool IsImageCreated() const { return m_result; }
  std::string GetImagePath() const { return m_summary.destinationPath; }
  uint64_t GetRegionLength() const { return m_summary.regionEnd - m_summary.regionStart; }

  int GetStep() const { return m_step; }
  void OnNext();
  void OnBack();
  void OnCancel();
  std::string GetBannerTitle() const;

  QPushButton* NextButton() const { return m_next; }
  QPushButton* BackButton() const { return m_back; }
  QPushButton* CancelButton() const { return m_cancel; }
  CImageDiskModeChooseDlg* ModePage() const { return m_mode; }
  CImageDiskPathChooseDlg* PathPage() const { return m_path; }
  CImageDiskADPathChooseDlg* AdvancedPathPage() const { return m_advanced; }
  CImageDiskSetRegionDlg* RegionPage() const { return m_region; }
  CImageDiskDiskInfo* SummaryPage() const { return m_info; }
  CImageDiskRunDlg* RunPage() const { return m_run; }
  CImageDiskSuccessDlg* SuccessPage() const { return m_success; }

 protected:
  void reject() override { OnCancel(); }

 private:
  void ShowStep();
  void SetBanner(uint32_t id, const char* text);
  // The destination check: the folder opens (through no link of another user), the user agrees to
  // replace files of the image that exist and to write on the source disk, a scratch file can be
  // written. *told when a message has already said why it failed.
  bool CheckDestination(const std::string& path, bool* told);
  void StartRun();
  void RunEnded(bool made);
  // Says how much of the range the image left by a stopped run holds, and asks whether to keep it.
  void AskToKeepStoppedImage(const std::string& why, bool whole);

  CDIskImagePublicDlg* m_banner = nullptr;
  QStackedWidget* m_stack = nullptr;
  CImageDiskModeChooseDlg* m_mode = nullptr;
  CImageDiskDiskInfo* m_info = nullptr;
  CImageDiskPathChooseDlg* m_path = nullptr;
  CImageDiskADPathChooseDlg* m_advanced = nullptr;
  CImageDiskSetRegionDlg* m_region = nullptr;
  CImageDiskRunDlg* m_run = nullptr;
  CImageDiskSuccessDlg* m_success = nullptr;
  QPushButton* m_back = nullptr;
  QPushButton* m_next = nullptr;
  QPushButton* m_cancel = nullptr;
  int m_step = 0;
  IStorageDevice* m_source = nullptr;
  std::string m_displayName;
  int32_t m_sourceKind = 255;
  uint64_t m_totalSectors = 0;
  uint32_t m_freeMiB = 0;
  bool m_replace = false;
  bool m_result = false;
  // Cancel was confirmed while the run went on: the run is ending.
  bool m_cancelling = false;
  int32_t m_sliceSize = 8388600;
  int32_t m_compressorType = 0;
  int32_t m_level = -1;
  ImageSummary m_summary;
};
