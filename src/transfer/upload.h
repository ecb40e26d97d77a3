// Byte-stream uploads: every byte of the image in its own data packet.
#pragma once

#include "link/link.h"
#include "platform/console.h"
#include "transfer/image.h"

// trackpod 2.5 banks: own instructions, Enter, the bytes back to back.
void uploadBank25(Link& link, Console& console, ImageView image);

// Every other kind: Enter, the bytes with 30 ms before every 128th; the final line
// stays open for the caller.
void uploadPaced(Link& link, Console& console, ImageView image);
