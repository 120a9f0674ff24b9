#include "wizard/controller/DevicePageCollection.h"

#include <QObject>
#include <QWidget>
#include <vector>

#include "controls/ImageWnd.h"
#include "platform/Log.h"
#include "ui/Pictures.h"
#include "wizard/WizardSheet.h"
#include "wizard/controller/ScanState.h"

namespace {

constexpr uint32_t kPicturePreviousRecovery = 5;

}  // namespace

void CDeviceCollectionRun::Join() {
  if (m_worker.joinable()) m_worker.join();
}

void CDeviceCollectionRun::Cancel() {
  // A collection still running is dropped when it arrives.
  ++m_generation;
  if (m_collecting) {
    m_collecting = false;
    StopAnimation();
  }
}

void CDeviceCollectionRun::Launch(std::function<std::function<void()>()> work, const char* trace) {
  Join();
  const uint64_t generation = ++m_generation;
  m_collecting = true;

  if (!m_receiver) m_receiver = new QObject();
  QWidget* window = nullptr;
  if (CWizardSheet* sheet = GetWizardSheet()) window = sheet->window();
  if (window) {
    if (!m_animation) {
      m_animation = new CImageWnd(window);
      m_animation->SetAnimation(corvale::ui::bitmap::kBusyAnimation,
                                corvale::ui::bitmap::kBusyAnimationFrames, 120, 0xFFFFFF, true);
    }
    m_animation->SetPosition(-1, -1);
    m_animation->show();
    m_animation->Start();
    if (window->isEnabled()) {
      window->setEnabled(false);
      m_disabledWindow = window;
    }
  }

  QObject* receiver = m_receiver;
  m_worker = std::thread([this, work = std::move(work), receiver, generation, trace] {
    std::function<void()> finish = work();
    DebugTrace(trace);
    QMetaObject::invokeMethod(
        receiver,
        [this, generation, finish] {
          Join();
          if (generation != m_generation) return;
          m_collecting = false;
          StopAnimation();
          finish();
        },
        Qt::QueuedConnection);
  });
}

void CDeviceCollectionRun::StopAnimation() {
  if (m_animation) {
    m_animation->Stop();
    m_animation->hide();
  }
  if (m_disabledWindow) {
    m_disabledWindow->setEnabled(true);
    m_disabledWindow->activateWindow();
  }
  m_disabledWindow = nullptr;
}

void CPreviousRecoveryRow::Read(IWizardPageController* controller, size_t length) {
  std::vector<char> text(length > 0 ? length : 1, 0);
  const bool available = ReadLastScanResultText(controller, text.data(), text.size()) != 0;
  Set(available, available ? text.data() : "");
}

void CPreviousRecoveryRow::Set(bool available, std::string text) {
  m_available = available;
  m_text = available ? std::move(text) : std::string();
}

void CPreviousRecoveryRow::AddTo(CDeviceSelectCtrl* list, const std::string& name) const {
  if (!list || !m_available) return;
  DEVICE_ITEM_INFO item;
  item.kind = kPicturePreviousRecovery;
  item.name = name.c_str();
  item.information = m_text.c_str();
  item.itemData = nullptr;
  list->AddItem(&item);
}

bool CPreviousRecoveryRow::IsSelected(const CDeviceSelectCtrl* list) const {
  if (!list || !m_available) return false;
  const int row = list->GetCurSel();
  return row == 0 && list->GetItemData(row) == nullptr;
}

void CPreviousRecoveryRow::Remove(CDeviceSelectCtrl* list, IWizardPageController* controller) {
  if (!IsSelected(list)) return;
  list->DeleteItem(0);
  m_available = false;
  DeleteLastScanState(controller);
}

uint32_t ElapsedMilliseconds(std::chrono::steady_clock::time_point start) {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
          .count());
}
