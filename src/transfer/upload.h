// Byte-stream uploads: every byte of the image in its own data packet.
#pragma once

#include <chrono>

#include "link/link.h"
#include "platform/console.h"
#include "transfer/image.h"

// trackpod 2.5 banks: own instructions, Enter, the bytes back to back.
void uploadBank25(Link& link, Console& console, ImageView image);

// Every other kind: Enter, the bytes with 30 ms before every 128th; the final line
// stays open for the caller.
void uploadPaced(Link& link, Console& console, ImageView image);

// How long an upload of so many bytes takes at the MIDI cable's pace: each byte's packet and
// the handheld's answer of the same length, and a paced upload's pauses.
std::chrono::milliseconds uploadTime(std::uint32_t bytes, bool paced);
