#include "transfer/receive.h"

#include "link/commands.h"
#include "link/link.h"
#include "platform/platform.h"

namespace {

// Closes the file on every way out, a library failure included.
struct FileCloser {
    int fd;
    ~FileCloser() {
        if (fd >= 0) closeFile(fd);
    }
    bool close() {
        const bool closed = closeFile(fd);
        fd = -1;
        return closed;
    }
};

}  // namespace

void receiveFile(ProgramState& st, const char* fileName) {
    std::int32_t receivedCount = 0;
    bool progressShown = false;
    st.inMessage.clear();

    const int fd = (fileName == nullptr || *fileName == '\0')
                       ? -1
                       : openFileForWriting(fileName);
    FileCloser file{fd};
    if (fd < 0) {
        writeLine(st, "Please enter a file name.");
        *st.out << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
                   "trackpod 2.5 files.";
        return;
    }

    pause(st, wire::kCommandPauseMs);
    sendCommand(st, Command::BeginReceive);
    waitForFirstMessage(st);
    if (answerStatus(st.inMessage) == wire::kStatusReady) {
        writeLine(st, "Ready to receive data.");
        writeLine(st, "");
    } else {
        writeLine(st, "");
        writeLine(st, "error");
    }
    st.inMessage.clear();

    bool writeFailed = false;
    std::uint32_t idleCountdown = st.receiveIdlePolls;
    while (idleCountdown != 0 && !writeFailed) {
        idleCountdown = st.receiveIdlePolls;
        do {
            if (receivedCount != 0 && idleCountdown != 0) --idleCountdown;
            pollMessage(st);
            if (receivedCount != 0 && receivedCount % 1024 == 0 && !progressShown) {
                *st.out << (receivedCount / 1024) << "k saved ";
                st.out->flush();
                *st.out << '\r';
                progressShown = true;
            }
        } while (idleCountdown != 0 && st.inMessage.empty());

        // A message too short to carry a data byte (a channel message, say) is not one.
        if (st.inMessage.size() >= wire::kByteMessageLength) {
            // Each byte goes to the operating system at once, so that Ctrl-C, which
            // ends the process without warning, never loses a byte received.
            if (writeFileByte(fd, decodeByte(st.inMessage))) {
                ++receivedCount;
                progressShown = false;
            } else {
                writeFailed = true;
            }
        }
        st.inMessage.clear();
    }

    if (!file.close()) writeFailed = true;
    if (writeFailed) {
        writeLine(st, "");
        writeLine(st, "error");
        return;
    }
    *st.out << (receivedCount / 1024) << "k saved... done.";
    writeLine(st, "");
}
