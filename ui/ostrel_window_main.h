#pragma once
// The window front end's entry: builds the run's ports from the options
// (port mappings, virtual ports, the demo line), shows the main window,
// runs the GUI loop until "Exit" or the close box, tears everything down,
// then handles a "RegServer" / "UnregServer" switch. Returns the exit code.

#include "frontend/options.h"

namespace ostrel::ui {

int RunWindow(int argc, char* argv[], const frontend::Options& options);

}  // namespace ostrel::ui
