#include "transfer/upload.h"

#include "link/link.h"

namespace {

// Before every 128th byte of a paced upload: the handheld stores what it was sent.
constexpr unsigned kPacedBlock = 128;
constexpr unsigned kPacedPauseMs = 30;

void writeProgress(ProgramState& st, std::uint32_t index) {
    *st.out << (index >> 10) << "k of " << (st.dataLength >> 10) << "k sent";
    st.out->flush();
    *st.out << '\r';
}

// Reads the one character that stands for the Enter key, after flushing the prompt.
void waitForEnter(ProgramState& st) {
    st.out->flush();
    st.in->get();
    st.in->clear();
}

}  // namespace

void uploadBank25(ProgramState& st) {
    writeLine(st, "In trackpod, select the bank to overwrite,");
    writeLine(st, "move the cursor to the very right and");
    writeLine(st, "press A+B+DOWN so that a status bar appears on the bottom.");
    writeLine(st, "Then press enter here.");
    waitForEnter(st);
    for (std::uint32_t i = 0; i < st.dataLength; ++i) {
        exchangeByte(st, st.fileBuffer[i]);
        if (i % 1024 == 0) writeProgress(st, i);
    }
    const std::uint32_t k = st.dataLength >> 10;
    *st.out << k << "k of " << k << "k sent";
    writeLine(st, "");
    writeLine(st, "done");
}

void uploadPaced(ProgramState& st) {
    waitForEnter(st);
    for (std::uint32_t i = 0; i < st.dataLength; ++i) {
        if (i % kPacedBlock == 0) pause(st, kPacedPauseMs);
        exchangeByte(st, st.fileBuffer[i]);
        if (i % 1024 == 0) writeProgress(st, i);
    }
    const std::uint32_t k = st.dataLength >> 10;
    *st.out << k << "k of " << k << "k sent... done.";
}
