#include "rawmidi.h"

#include <stdexcept>
#include <thread>

#include "link/protocol.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef _WIN32
RawMidi::RawMidi(const std::string&, bool cablePace) : cablePace_(cablePace) {
    throw std::runtime_error("raw MIDI devices exist on Linux only");
}
RawMidi::~RawMidi() = default;
bool RawMidi::next(Bytes&, std::chrono::milliseconds) { return false; }
void RawMidi::send(const Bytes&) {}
#else
RawMidi::RawMidi(const std::string& device, bool cablePace) : cablePace_(cablePace) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + device + ": " + std::strerror(errno));
}

RawMidi::~RawMidi() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawMidi::next(Bytes& message, std::chrono::milliseconds wait) {
    pollfd p{fd_, POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) return false;
        unsigned char byte;
        ssize_t got;
        // One byte at a time: the stream is slow, and a message ends exactly at its F7.
        while ((got = ::read(fd_, &byte, 1)) == 1) {
            if (byte >= 0xF8) continue;  // real-time bytes may come between any two
            if (byte == wire::kSysEx) {
                partial_.assign(1, byte);
                inSysEx_ = true;
                firstByte_ = std::chrono::steady_clock::now();
            } else if (!inSysEx_) {
                continue;
            } else if (byte < 0x80) {
                partial_.push_back(byte);
            } else {
                inSysEx_ = false;
                if (byte != wire::kEndSysEx) continue;  // any other status byte cuts the message short
                partial_.push_back(byte);
                // The last byte reaches the handheld one byte time per byte after the first.
                if (cablePace_) std::this_thread::sleep_until(firstByte_ + wire::kByteTime * partial_.size());
                message.swap(partial_);
                partial_.clear();
                return true;
            }
        }
        // A device unplugged (a USB gadget unbound) ends the serving, not spins on it.
        if ((got < 0 && errno != EAGAIN && errno != EINTR) || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            throw std::runtime_error(std::string("the raw MIDI device went away: ") +
                                     (got < 0 ? std::strerror(errno) : "hung up"));
        }
        if (std::chrono::steady_clock::now() >= until) return false;
    }
}

void RawMidi::send(const Bytes& message) {
    std::size_t done = 0;
    // A cable carries bytes whether or not anyone listens: when nothing on the other
    // side reads for a second, the rest of the message is dropped, not waited for.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (done < message.size() && std::chrono::steady_clock::now() < giveUp) {
        const ssize_t n = ::write(fd_, message.data() + done, message.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            throw std::runtime_error(std::string("cannot write the raw MIDI device: ") + std::strerror(errno));
        } else {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    // The cable is busy until the last byte is out.
    if (cablePace_) std::this_thread::sleep_for(wire::kByteTime * message.size());
}
#endif
