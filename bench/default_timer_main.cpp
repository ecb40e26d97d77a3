// tpmidi01 without its run scope: at Windows' default timer resolution, to measure
// what the 1 ms one gives.
#include "app/entry.h"

int main(int argc, char** argv) { return runWithRtMidi(argc, argv); }
