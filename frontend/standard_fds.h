#pragma once
// The standard descriptors of a process started with some of them closed.

namespace ostrel::frontend {

// Opens /dev/null on each of fds 0, 1 and 2 that is closed, so that no file
// or port opened later takes one of their numbers (and text meant for
// standard output is never written into a serial line). Call it first thing
// in main, before anything opens a file.
void OpenClosedStandardFds();

}  // namespace ostrel::frontend
