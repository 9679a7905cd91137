// The program's own start-up, ending as soon as its main window has been painted: what the
// start-up benchmark times against a Qt program with an empty window.
#include "ui/program.h"

int main(int argc, char *argv[]) { return zelv::runProgram(argc, argv, true); }
