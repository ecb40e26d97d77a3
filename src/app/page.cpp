#include "app/page.h"

std::string pageFailure(int code, const std::string& port, const std::string& reason) {
    const std::string why = reason.empty() ? "" : ": " + reason;
    switch (code) {
        case 1: return "the job was cancelled";
        case 2: return "cannot open the MIDI port \"" + port + "\"" + why + " (does another program hold it?)";
        default: return "cannot send to the MIDI port \"" + port + "\"" + why;
    }
}

const char* pageWords() {
    return "why=trackpod speaks only in MIDI System Exclusive messages, which the browser will ask you to allow. "
           "Press Connect, then allow it.\n"
           "refused=The browser was not allowed MIDI with System Exclusive messages. Allow it in the site's settings "
           "(the icon left of the address), then press Connect again.\n"
           "noWebMidi=This browser has no Web MIDI. Open this page in Chrome, Edge, Opera or Firefox, or use the console "
           "program tpmidi01.\n"
           "fromDisk=If the browser gives no MIDI to a page opened from disk, open it from a web server instead "
           "(for example: python3 -m http.server, then http://localhost:8000/tpmidi01.html).\n"
           "noPorts=No MIDI ports: plug in the MIDI interface, then press Connect again (Firefox looks for MIDI "
           "interfaces only when it starts: plug it in, then restart Firefox).\n"
           "choosePorts=Choose the MIDI input and output that the handheld is cabled to.\n"
           "tooLarge={file} is over 256 KiB: only its first 256 KiB are sent.\n"
           "empty={file} is empty: the handheld receives no byte of it.\n"
           "noFile=Choose a file to send first.\n"
           "whole=The whole bank came: Save keeps it as {file}.\n"
           "part=The bank is incomplete: only what came is offered, as {file}.\n";
}
