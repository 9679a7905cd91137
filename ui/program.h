// The program from start to end: the drive table, the main window's start-up and the event
// loop. Shared by the program file and the start-up benchmark.
#pragma once

namespace zelv {

// With exitWhenShown the program ends as soon as its main window has been shown.
int runProgram(int argc, char *argv[], bool exitWhenShown = false);

} // namespace zelv
