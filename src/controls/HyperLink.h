#pragma once
// A text that behaves as a link: link, visited and hover colours, a hand cursor, an underline while
// the pointer is over it (or always, or never), a tooltip with its target, and on a click it opens
// the target for the user with the desktop. In its folder mode the target is a folder and the click
// opens a file manager window with given items of it selected. Whatever it opens goes through the
// program's one desktop opener (ui/Shell.h); a target that cannot be opened is reported, never
// passed over.

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <string>
#include <vector>

class CHyperLink : public QLabel {
  Q_OBJECT

 public:
  static constexpr int kUnderlineHover = -1;
  static constexpr int kUnderlineNever = 0;
  static constexpr int kUnderlineAlways = 1;

  static constexpr uint32_t kStringPathInvalid = 345;

  // `bSelectDirs`: the folder mode.
  explicit CHyperLink(bool bSelectDirs = false, QWidget* parent = nullptr);
  explicit CHyperLink(QWidget* parent) : CHyperLink(false, parent) {}

  // The target; an empty text shows it. The link is fitted to its text and the tooltip follows.
  void SetLinkURL(const QString& strURL);
  const QString& GetLinkURL() const { return m_url; }
  // The colours of the text; an invalid hover colour stands for the system's highlight colour.
  void SetLinkColors(const QColor& link, const QColor& visited, const QColor& hover);
  // kUnderlineHover, kUnderlineNever or kUnderlineAlways.
  void SetUnderlineMode(int nUnderline);
  int GetUnderlineMode() const { return m_underline; }
  void SetVisited(bool visited);
  bool IsVisited() const { return m_visited; }
  // Whether the link takes the size of its text when its text or target changes (on by default).
  void SetAdjustToFit(bool adjust) { m_adjustToFit = adjust; }
  void SetLinkCursor(const QCursor& cursor);

  // Folder mode: the items shown selected when the link is clicked; the first kMaxItems count.
  static constexpr size_t kMaxItems = 32;
  void SetItemPaths(std::vector<std::string> paths) { m_items = std::move(paths); }
  const std::vector<std::string>& ItemPaths() const { return m_items; }
  bool SelectsDirs() const { return m_selectDirs; }

  bool IsPointerOver() const { return m_over; }
  // The colour the text is drawn in now, and whether it is underlined now.
  QColor TextColor() const;
  bool IsUnderlined() const { return font().underline(); }

  // Fits the link to its text in the underlined font, keeping its place by its alignment.
  void FitToText();

  // What a click does: opens the target (in folder mode, with the items selected); marks the link
  // visited when that started, else beeps. A failure has been shown by then.
  void Click();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetOver(bool over);
  void UpdateLook();

  std::vector<std::string> m_items;
  QColor m_link{0, 0, 238};
  QColor m_visitedColor{85, 26, 139};
  QColor m_hover{255, 0, 0};
  bool m_over = false;
  bool m_visited = false;
  int m_underline = kUnderlineHover;
  bool m_adjustToFit = true;
  QString m_url;
  bool m_selectDirs;
  bool m_updating = false;
};
