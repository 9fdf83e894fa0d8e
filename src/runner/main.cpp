#include "runner/Runner.h"

int main(int argc, char** argv) { return runner::runFerrowick(argc, argv); }
