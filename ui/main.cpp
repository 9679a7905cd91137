#include "ui/program.h"

int main(int argc, char *argv[]) { return zelv::runProgram(argc, argv); }
