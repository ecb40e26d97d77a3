#include "app/entry.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    RunScope platform;
    return runWithRtMidi(argc, argv);
}
