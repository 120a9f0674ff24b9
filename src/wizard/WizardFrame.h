#pragma once
// What the wizard sheet asks of the main window that holds it.

class IWizardFrame {
 public:
  virtual ~IWizardFrame() = default;
  // Whether the user may resize the window; taking it away puts the window back to its first size.
  virtual void SetWindowResizable(bool resizable) = 0;
  // Brings the window to the front.
  virtual void BringToForeground() = 0;
  // Closes the window, and so ends the program, without asking the user.
  virtual void CloseWithoutAsking() = 0;
};
