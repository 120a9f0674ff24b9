#pragma once
// The program's message boxes. Each shows its text with the product title as caption unless a
// caller gives another. On a platform where nobody can see a window (offscreen, minimal) the text
// is written to stderr instead and the box counts as confirmed at once (OK, or Yes for a question);
// so do runs without a display. Tests install handlers that record what was asked and answer it.

#include <functional>
#include <string>

namespace corvale::ui {

enum class MessageIcon { Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// Shows the box and waits until it is closed.
void ShowMessageBox(const std::string& text, const std::string& caption,
                    MessageIcon icon = MessageIcon::Information);

// Asks a question with the given buttons and returns the one the user pressed. Closing the box
// without a button answers Cancel (OK/Cancel) or No (Yes/No).
MessageAnswer AskMessageBox(const std::string& text, const std::string& caption, MessageButtons buttons,
                            MessageIcon icon = MessageIcon::Question);

using MessageBoxHandler =
    std::function<void(const std::string& text, const std::string& caption, MessageIcon)>;
// Replaces how boxes are shown (null: the real boxes). Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

using QuestionHandler = std::function<MessageAnswer(const std::string& text, const std::string& caption,
                                                    MessageButtons, MessageIcon)>;
// Replaces how questions are asked (null: the real boxes). Returns the previous handler.
QuestionHandler SetQuestionHandler(QuestionHandler handler);

// True when windows shown now would be seen by a person.
bool WindowsAreVisible();

// Shows the real boxes even where nobody can see them (the offscreen platform), instead of writing
// the text to stderr: for tests that answer a box by clicking its buttons. Off by default.
void ShowRealBoxesEverywhere(bool show);

}  // namespace corvale::ui
