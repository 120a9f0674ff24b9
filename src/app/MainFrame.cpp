#include "app/MainFrame.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>

#include "controls/DialogTemplate.h"
#include "platform/Log.h"
#include "ui/AppInfo.h"
#include "wizard/WizardSheet.h"

CChildView::CChildView(IWizardFrame* frame, QWidget* parent) : QWidget(parent), m_sheet(::GetWizardSheet()) {
  corvale::ui::SetControlId(this, kControlId);
  m_sheet->SetSheetController(&m_sheetController);
  m_sheetController.SetWizardSheet(m_sheet);
  m_sheet->SetMainFrame(frame);
  m_sheet->Create(this);
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
  if (m_sheet) m_sheet->setGeometry(0, 0, event->size().width(), event->size().height());
}

namespace {

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
  resize(m_createdSize);
  setMinimumSize(m_createdSize);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
  m_view = new CChildView(this, this);
  setCentralWidget(m_view);
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
    setMinimumSize(m_createdSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  // Changing the frame's buttons hides a shown window; it is shown again at once.
  setWindowFlags(FrameFlags(resizable));
  if (shown) show();
}

void CMainFrame::BringToForeground() {
  raise();
  activateWindow();
}

void CMainFrame::CloseWithoutAsking() { close(); }
