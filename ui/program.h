#pragma once

namespace trelvane {

// The whole program: reads the command line, runs the terminal burst or the window, and returns
// the exit status.
int RunProgram(int argc, char** argv);

}  // namespace trelvane
