#include "midi/drop_watch.h"

#include <string_view>

std::streamsize DropWatch::xsputn(const char* text, std::streamsize n) {
    // RtMidi writes each such message in one piece. Its ALSA input says the sequencer's
    // overrun as an "unknown" error: the kernel reports it, and empties the buffer, to the
    // look for pending input, whose result RtMidi does not check, and the read that follows
    // finds nothing.
    const std::string_view piece(text, static_cast<std::size_t>(n));
    if (piece.find("message queue limit reached") != piece.npos || piece.find("input buffer overrun") != piece.npos ||
        piece.find("unknown MIDI input error") != piece.npos) {
        dropped_ = true;
        return n;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return through_->sputn(text, n);
}

DropWatch::int_type DropWatch::overflow(int_type c) {
    std::lock_guard<std::mutex> lock(mutex_);
    return traits_type::eq_int_type(c, traits_type::eof()) ? traits_type::not_eof(c) : through_->sputc(char(c));
}

int DropWatch::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    return through_->pubsync();
}
