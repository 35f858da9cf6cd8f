#pragma once
// Message boxes of the tray program. Every box is a window on the GUI thread; a thread that
// asks for one hands it over and waits until the user has dismissed it, or until the program
// unloads, which closes every box so that no thread stays behind one.
#include <string>

#include "platform/MessageBox.h"

namespace vg::gui {

// Makes the platform's message boxes windows (call on the GUI thread, with the application up).
// Each box is also written to standard error, as the headless program does.
void InstallWindowMessageBoxes();
// Restores the platform's presenter without windows.
void RemoveWindowMessageBoxes();

// Closes the boxes that are open, releases every thread waiting for one, and from then on
// shows none (boxes go to standard error only). Called when the program unloads.
void CloseAllMessageBoxes();
// Shows boxes again after CloseAllMessageBoxes (for a program that keeps running, such as a test).
void ReopenMessageBoxes();

// How many boxes are open now (GUI thread).
int OpenMessageBoxCount();

}  // namespace vg::gui
