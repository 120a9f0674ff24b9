#pragma once
// The file-select view: a splitter with the folder pane (FileTreeCtrl.h) on the left and the file
// pane (FileListCtrl.h) on the right, the left column kept at 200 pixels (100 to 400) while the
// window is resized, the list taking every change of width.

#include <QSplitter>
#include <QWidget>

class CFileTreeCtrl;
class CFileListCtrl;

// A splitter whose bars are painted in one flat colour, and of whose two panes one may keep a
// fixed size between a minimum and a maximum; the other pane takes every change of size and never
// goes below 0.
class CExSplitterWnd : public QSplitter {
  Q_OBJECT

 public:
  explicit CExSplitterWnd(Qt::Orientation orientation, QWidget* parent = nullptr);
  // Column `index` (0 or 1) keeps `width` pixels, and a drag leaves it between min and max.
  void SetColumnFixed(int index, int width, int minimum, int maximum);
  void SetRowFixed(int index, int height, int minimum, int maximum);

 private:
  void SetFixed(int index, int size, int minimum, int maximum);
  // Puts the fixed pane back inside its limits after a drag of the bar.
  void SpringBack();

  int m_fixedIndex = -1;
  int m_minimum = 0;
  int m_maximum = 0;
};

class CFileSelectCtrlContainer : public QWidget {
  Q_OBJECT

 public:
  explicit CFileSelectCtrlContainer(QWidget* parent = nullptr);
  CFileTreeCtrl* GetFileTreeCtrl() const { return m_tree; }
  CFileListCtrl* GetFileListCtrl() const { return m_list; }
  CExSplitterWnd* Splitter() const { return m_splitter; }

 private:
  CExSplitterWnd* m_splitter;
  CFileTreeCtrl* m_tree;
  CFileListCtrl* m_list;
};
