#pragma once
// The page windows of the wizard. Each page is a view: it draws itself and its controls, and turns
// the user's actions into calls of its controller (WizardPageController.h), which owns the work of
// the page's step. The sheet (WizardSheet.h) makes the pages once and shows one at a time.
//
// A page lays out three bands along its width, 50 pixels in from either side: a title band at the
// top, a subtitle band below it and a bottom band near the bottom; a page narrower than 100 pixels
// has empty bands and draws nothing into them. Pages are painted white, then with their own
// drawing, in a bold font of the user-interface face.
//
// The controls of a page are placed by layouts whose margins keep them inside the bands
// (BandMargins); what the page draws itself (its texts, the frames round its lists) follows the
// bands, or the controls' places, at every size.

#include <QFont>
#include <QMargins>
#include <QRect>
#include <QWidget>

class IWizardPageController;

// The wizard's pages, numbered as the controllers and the saved states know them.
enum WIZARD_PAGE : int {
  RecoveryModeSelect = 0,
  DeleteRecoveryPartitionDeviceSelect = 1,
  CompleteRecoveryPartitionDeviceSelect = 2,
  LostRecoveryDiskDeviceSelect = 3,
  LostRecoveryPartitionDeviceSelect = 4,
  SaveResult = 5,
  SaveFile = 6,
  CompleteRecoveryScanPartitionDeviceSelect = 7,
  LostRecoveryScanPartitionDeviceSelect = 8,
  FileSelect = 9,
  TypeOfFileToRecovery = 10,
};
constexpr int kWizardPageCount = 11;
// A page's control number in the sheet is this plus its page number.
constexpr int kFirstPageControlId = 1300;

class CWizardPage : public QWidget {
  Q_OBJECT

 public:
  explicit CWizardPage(QWidget* parent = nullptr);
  ~CWizardPage() override;

  // The page's controller.
  virtual IWizardPageController* GetController() = 0;
  // The help topic of the page, for the user-interface language `language`.
  virtual int GetHelpContextId(int language) = 0;
  // Places the page's controls for a client area of cx x cy; the bands are already set.
  virtual void Layout(int cx, int cy);
  // Paints the page's own texts and pictures over its white background.
  virtual void Draw(QPainter* dc);
  // A command sent to the page (a menu item, a shortcut of the main window). True when handled.
  virtual bool OnCommand(int commandId);

  // The bands' edges: 50 pixels in from either side; the title band 30 pixels high, the subtitle
  // band below it down to 61; the bottom band from 36 to 10 pixels above the page's bottom.
  static constexpr int kBandSide = 50;
  static constexpr int kTitleBandHeight = 30;
  static constexpr int kSubtitleBandBottom = 61;
  static constexpr int kBottomBandTop = 36;
  static constexpr int kBottomBandBottom = 10;
  // The least height of a page's list, so that a few of its rows always show.
  static constexpr int kLeastListHeight = 150;
  // Layout margins from the subtitle band's top down to the bottom band's bottom edge, or to its top
  // edge (`aboveBottomBand`) where the page draws its own text in that band.
  static QMargins BandMargins(bool aboveBottomBand = false) {
    return QMargins(kBandSide, kTitleBandHeight, kBandSide,
                    aboveBottomBand ? kBottomBandTop : kBottomBandBottom);
  }

  QRect TitleRect() const { return m_titleRect; }
  QRect SubtitleRect() const { return m_subtitleRect; }
  QRect BottomRect() const { return m_bottomRect; }
  const QFont& BoldFont() const { return m_boldFont; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // Enter presses the focused button as Space does, and Escape is swallowed: neither key closes or
  // leaves a page.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QRect m_titleRect;
  QRect m_subtitleRect;
  QRect m_bottomRect;
  QFont m_boldFont;
};

// A rectangle given by its edges, right and bottom exclusive. A right edge left of the left edge
// gives an empty rectangle.
inline QRect RectFromEdges(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}
