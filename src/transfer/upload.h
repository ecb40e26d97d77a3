// Byte-stream uploads: every byte of the image in its own data packet.
#pragma once

#include <chrono>

#include "link/link.h"
#include "transfer/image.h"
#include "transfer/progress.h"

// trackpod 2.5 banks: the bytes back to back.
void uploadBank25(Link& link, ImageView image, Progress& progress);

// Every other kind: the bytes with 30 ms before every 128th.
void uploadPaced(Link& link, ImageView image, Progress& progress);

// How long an upload of so many bytes takes at the MIDI cable's pace: each byte's packet and
// the handheld's answer of the same length, and a paced upload's pauses.
std::chrono::milliseconds uploadTime(std::uint32_t bytes, bool paced);
