#include "seam.h"

void bindHandheld(MidiSeam& seam, Handheld& handheld) {
    seam.send = [&handheld](const Bytes& message) { handheld.receive(message); };
    seam.poll = [&handheld](Bytes& message) {
        message.clear();
        handheld.take(message);
    };
}
