#include "platform/console.h"

void writeLine(Console& console, const std::string& text) {
    *console.out << text << '\n';
    console.out->flush();
}

void writeDiagnostic(Console& console, const std::string& text) {
    *console.err << "tpmidi01: " << text << '\n';
    console.err->flush();
}

void waitForEnter(Console& console) {
    console.out->flush();
    console.in->get();
    console.in->clear();
}

void tellProgress(Console& console, std::uint32_t done, std::uint32_t total) {
    if (console.progressed) console.progressed(done, total);
}
