#pragma once
// The base of almost every dialog of the program: one type for all of them, one background brush
// that a dialog may fill and hand out for its background, and one drawing switch. Otherwise it is a
// plain modal or modeless dialog. A dialog with a help topic opens it on F1.

#include <QBrush>
#include <QDialog>

class CSearchSuperDlg : public QDialog {
  Q_OBJECT

 public:
  // The template of a dialog made with the parent alone: captioned "Dialog", with OK and Cancel.
  static constexpr int kPlainTemplate = 105;

  // A dialog of template `templateId`; the derived dialog builds the template's controls.
  CSearchSuperDlg(int templateId, QWidget* parent);
  // A dialog of the plain template, with its controls.
  explicit CSearchSuperDlg(QWidget* parent);
  ~CSearchSuperDlg() override;

  int TemplateId() const { return m_templateId; }

  // The brush a derived dialog may make and paint its background with; empty (Qt::NoBrush) until then.
  QBrush& BackgroundBrush() { return m_backgroundBrush; }
  const QBrush& BackgroundBrush() const { return m_backgroundBrush; }

  // The drawing switch, set at construction; derived dialogs that draw nothing of their own clear
  // it. The base behaves the same either way.
  bool DrawFlag() const { return m_drawFlag; }
  void SetDrawFlag(bool draw) { m_drawFlag = draw; }

  // The help topic F1 opens in this dialog (and in the controls inside it); 0, the default: none.
  // Set on the dialog window itself, not on a dialog shown inside another one.
  void SetHelpTopic(int topic);
  int HelpTopic() const { return m_helpTopic; }

  // Runs the dialog modally; returns how it ended (QDialog::Accepted or Rejected).
  int DoModal() { return exec(); }
  // Disables and enables the dialog window while another window is modal over it.
  void BeginModalState() { setEnabled(false); }
  void EndModalState() { setEnabled(true); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildPlainTemplate();

  QBrush m_backgroundBrush;
  bool m_drawFlag = true;
  int m_templateId;
  int m_helpTopic = 0;
};
