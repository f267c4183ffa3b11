// tilvaron-run: the mosaic engine without a window (servers, services).
#include "engine/HeadlessRunner.h"

int main(int argc, char** argv) { return tv::runHeadless(argc, argv); }
