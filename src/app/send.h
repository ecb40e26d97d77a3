// "-send": load a file, announce the upload, recognise the kind, send it.
#pragma once

#include "link/link.h"
#include "platform/console.h"

void sendFile(Link& link, Console& console, const char* fileName);
