#pragma once
// Message boxes: a windowed program installs its own presenter; without one the text goes
// to standard error (converted for the terminal) and to whatever extra sink the program adds.
#include <functional>
#include <string>

namespace vg::platform {

// The icon of a box; a presenter without windows may ignore it.
enum class MessageBoxKind { Error, Warning, Information };

// Caption and text are Windows-1251 texts.
using MessageBoxPresenter =
    std::function<void(const std::string& caption, const std::string& text, MessageBoxKind kind)>;

// Shows a modal box with an OK button (blocks until it is dismissed when a presenter shows windows).
void ShowMessageBox(const std::string& caption, const std::string& text,
                    MessageBoxKind kind = MessageBoxKind::Information);
// Replaces the presenter; an empty function restores the standard-error presenter.
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

// The application's title, the caption of its message boxes.
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

}  // namespace vg::platform
