#pragma once
// The program's message boxes. Each shows its text with the product title as caption unless a
// caller gives another. On a platform where nobody can see a window (offscreen, minimal) the text
// is written to stderr instead and the box counts as confirmed at once; so do runs without a
// display. Tests install a handler that records what was asked and answers it.

#include <functional>
#include <string>

namespace corvale::ui {

enum class MessageIcon { Information, Warning, Error, Question };

// Shows the box and waits until it is closed.
void ShowMessageBox(const std::string& text, const std::string& caption,
                    MessageIcon icon = MessageIcon::Information);

using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption, MessageIcon)>;
// Replaces how boxes are shown (null: the real boxes). Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// True when windows shown now would be seen by a person.
bool WindowsAreVisible();

}  // namespace corvale::ui
