#include "ui/program.h"

int main(int argc, char** argv) { return trelvane::RunProgram(argc, argv); }
