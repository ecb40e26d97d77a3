// The computer kept awake for the length of a job, where the system lets the program ask:
// a long upload dies when the computer sleeps, and nobody touches the keyboard meanwhile.
#pragma once

#include <string>

#include "link/link.h"

class KeptAwake {
public:
    KeptAwake(Link& link, const std::string& reason)
        : link_(link), handle_(link.hooks.preventSleep ? link.hooks.preventSleep(reason) : -1) {}
    // Given back however the job ends, "error" and a MIDI failure included.
    ~KeptAwake() {
        if (handle_ >= 0 && link_.hooks.allowSleep) link_.hooks.allowSleep(handle_);
    }
    KeptAwake(const KeptAwake&) = delete;
    KeptAwake& operator=(const KeptAwake&) = delete;
    bool held() const { return handle_ >= 0; }

private:
    Link& link_;
    long long handle_;
};
