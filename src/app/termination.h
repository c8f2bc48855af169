// Termination requests: a failed start-up password entry, a "Quit" answer or
// the updater launch ask the program to end. A request made while the main
// window is being created lets creation finish; the event loop then ends at
// once and the close step (posting, writing the settings) is skipped, though
// the window is still destroyed.
//
// The request itself only records the fact and calls the installed action;
// the program entry installs an action that leaves the event loop. Tests
// install none and simply look at TerminationRequested().
#pragma once

#include <functional>

namespace tarn {

void RequestTermination();
bool TerminationRequested();

// Clears the flag (tests, and nothing else).
void ResetTermination();

// Called on every request; empty by default.
void SetTerminationAction(std::function<void()> action);

}  // namespace tarn
