#include "app/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeySequence>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <utility>

#include "controls/DialogTemplate.h"
#include "controls/HelpFile.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "ui/MessageBox.h"
#include "ui/Resources.h"
#include "ui/SystemFileTypeList.h"
#include "wizard/WizardSheet.h"

CChildView::CChildView(IWizardFrame* frame, QWidget* parent) : QWidget(parent), m_sheet(::GetWizardSheet()) {
  corvale::ui::SetControlId(this, kControlId);
  m_sheet->SetSheetController(&m_sheetController);
  m_sheetController.SetWizardSheet(m_sheet);
  m_sheet->SetMainFrame(frame);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_sheet->Create(this);
  layout->addWidget(m_sheet);
  // F1 asks for the help of the page shown.
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  help->setContext(Qt::WindowShortcut);
  connect(help, &QShortcut::activated, this, [this] {
    if (m_sheet) m_sheet->OnHelp();
  });
}

CChildView::~CChildView() {
  // The sheet goes first, while the controller it was given still exists.
  delete m_sheet.data();
}

void CChildView::resizeEvent(QResizeEvent* event) {
  LogError("------------------------ParmInfo: UINT nType, int cx, int cy");
  QWidget::resizeEvent(event);
}

namespace {

constexpr uint32_t kStringExitNow = 242;

// The buttons of the window's frame; the maximise button only while the window may be resized.
Qt::WindowFlags FrameFlags(bool resizable) {
  Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
  if (resizable) flags |= Qt::WindowMaximizeButtonHint;
  return flags;
}

}  // namespace

CMainFrame::CMainFrame() {
  setWindowFlags(FrameFlags(true));
  setWindowTitle(QString::fromStdString(GetProductTitle()));
  m_createdSize = QSize(kClientWidth, kClientHeight);
  m_view = new CChildView(this, this);
  setCentralWidget(m_view);
  resize(m_createdSize);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  AddShortcuts();

  // The desktop's file types, for the search dialogs.
  QElapsedTimer timer;
  timer.start();
  GetSystemFileTypeList().LoadFromRegistry();
  DebugTrace("Enum register file used time :%f Second", static_cast<double>(timer.elapsed()) / 1000.0);
}

void CMainFrame::AddShortcuts() {
  const std::pair<QKeySequence, int> keys[] = {
      {QKeySequence(Qt::CTRL | Qt::Key_O), kCommandOpen},
      {QKeySequence(Qt::CTRL | Qt::Key_C), kCommandCopy},
      {QKeySequence(Qt::CTRL | Qt::Key_Insert), kCommandCopy},
      {QKeySequence(Qt::CTRL | Qt::Key_X), kCommandCut},
      {QKeySequence(Qt::SHIFT | Qt::Key_Delete), kCommandCut},
      {QKeySequence(Qt::CTRL | Qt::Key_V), kCommandPaste},
      {QKeySequence(Qt::SHIFT | Qt::Key_Insert), kCommandPaste},
      {QKeySequence(Qt::CTRL | Qt::Key_Z), kCommandUndo},
      {QKeySequence(Qt::ALT | Qt::Key_Backspace), kCommandUndo},
      {QKeySequence(Qt::Key_F6), kCommandNextPane},
      {QKeySequence(Qt::SHIFT | Qt::Key_F6), kCommandPreviousPane},
  };
  for (const auto& [key, command] : keys) {
    auto* shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, id = command] { OnCommand(id); });
  }
}

void CMainFrame::OnCommand(int id) {
  QWidget* focus = QApplication::focusWidget();
  // The edit commands go to the control with the focus, when it is one that edits text.
  auto edit = [focus](const char* slot) {
    if (focus != nullptr && focus->metaObject()->indexOfSlot(QByteArray(slot).append("()").constData()) >= 0)
      QMetaObject::invokeMethod(focus, slot);
  };
  switch (id) {
    case kCommandOpen:
      if (CWizardSheet* sheet = m_view->GetWizardSheet()) sheet->SendCommandToCurrentPage(kCommandOpen);
      break;
    case kCommandCopy:
      edit("copy");
      break;
    case kCommandCut:
      edit("cut");
      break;
    case kCommandPaste:
      edit("paste");
      break;
    case kCommandUndo:
      edit("undo");
      break;
    case kCommandNextPane:
      focusNextChild();
      break;
    case kCommandPreviousPane:
      focusPreviousChild();
      break;
    default:
      break;
  }
}

void CMainFrame::OpenHelpTopic(int topic) { ShowHelpFile(nullptr, topic); }

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!m_closeWithoutAsking &&
      corvale::ui::AskMessageBox(corvale::ui::LoadStringResource(kStringExitNow).toStdString(),
                                 GetProductTitle(), corvale::ui::MessageButtons::YesNo,
                                 corvale::ui::MessageIcon::Question) != corvale::ui::MessageAnswer::Yes) {
    event->ignore();
    return;
  }
  event->accept();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetWindowResizable(bool resizable) {
  if (resizable == m_resizable) return;
  m_resizable = resizable;
  const bool shown = isVisible();
  if (!resizable) {
    // Back to the first size at the current place, and no way to change it.
    setFixedSize(m_createdSize);
  } else {
    // Down to the least size at which every page is usable, as the pages' layouts say.
    setMinimumSize(MinimumUsableSize());
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  // Changing the frame's buttons hides a shown window; it is shown again at once.
  setWindowFlags(FrameFlags(resizable));
  if (shown) show();
}

QSize CMainFrame::MinimumUsableSize() const {
  // Every page's least size counts, the hidden ones too, so the least size is the same on every
  // page; never more than the window's first size.
  QSize least = m_view->minimumSizeHint();
  if (layout()) least = least.expandedTo(layout()->minimumSize());
  return least.boundedTo(m_createdSize);
}

void CMainFrame::BringToForeground() {
  raise();
  activateWindow();
}

void CMainFrame::CloseWithoutAsking() {
  m_closeWithoutAsking = true;
  close();
}
