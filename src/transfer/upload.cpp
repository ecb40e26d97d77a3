#include "transfer/upload.h"

#include "link/link.h"

namespace {

void writeProgress(ProgramState& st, std::uint32_t index) {
    *st.out << (index >> 10) << "k of " << (st.dataLength >> 10) << "k sent";
    st.out->flush();
    *st.out << '\r';
}

}  // namespace

void waitForEnter(ProgramState& st) {
    st.out->flush();
    st.in->get();
    st.in->clear();
}

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
        if (i % wire::kPacedBlock == 0) pause(st, wire::kPacedPauseMs);
        exchangeByte(st, st.fileBuffer[i]);
        if (i % 1024 == 0) writeProgress(st, i);
    }
    const std::uint32_t k = st.dataLength >> 10;
    *st.out << k << "k of " << k << "k sent... done.";
}
