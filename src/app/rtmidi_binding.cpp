#include "app/rtmidi_binding.h"

#include <chrono>
#include <thread>

namespace {

const std::thread::id mainThread = std::this_thread::get_id();

void onLibraryError(RtMidiError::Type type, const std::string& text, void*) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    if (std::this_thread::get_id() == mainThread) throw RtMidiError(text, type);
    std::cerr << '\n' << text << "\n\n";
}

RtMidi& objectOf(RtMidiObjects& objects, Direction direction) {
    if (direction == Direction::Input) return *objects.in;
    return *objects.out;
}

}  // namespace

void throwLibraryErrors(RtMidi& object) { object.setErrorCallback(onLibraryError, nullptr); }

void closeBeforeDelete(RtMidi& object) {
    try {
        object.closePort();
    } catch (const RtMidiError&) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

void bindRtMidi(MidiSeam& seam, RtMidiObjects& objects) {
    seam.create = [&objects] {
        objects.out = createRtMidi<RtMidiOut>(RtMidi::UNSPECIFIED, "RtMidi Output Client");
        // The input uses the output's API, so both ports live on the same system.
        objects.in = createRtMidi<RtMidiIn>(objects.out->getCurrentApi(), "RtMidi Input Client",
                                            100u);
        throwLibraryErrors(*objects.out);
        throwLibraryErrors(*objects.in);
        objects.in->ignoreTypes(false, true, true);
    };
    seam.destroy = [&objects] {
        deleteRtMidi(objects.out);
        objects.out = nullptr;
        deleteRtMidi(objects.in);
        objects.in = nullptr;
    };
    seam.portNames = [&objects](Direction direction) {
        RtMidi& object = objectOf(objects, direction);
        std::vector<std::string> names;
        const unsigned count = object.getPortCount();
        for (unsigned i = 0; i < count; ++i) names.push_back(object.getPortName(i));
        return names;
    };
    seam.openPort = [&objects](Direction direction, unsigned index) {
        objectOf(objects, direction).openPort(index, "RtMidi");
    };
    seam.send = [&objects](const Bytes& message) { objects.out->sendMessage(&message); };
    seam.poll = [&objects](Bytes& message) { objects.in->getMessage(&message); };
}
