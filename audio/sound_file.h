// Opening a sound file with libsndfile on a descriptor the program opened itself (the path was
// checked when it was opened). libsndfile keeps the reason an open failed in one global, and takes
// are opened on several threads at once (measuring, exporting, reading the history): opens are
// made one at a time, so each failure reads its own reason.
#pragma once

#include <sndfile.h>

#include <string>

namespace voxtar::audio {

// The open file (for sf_close), or null with *reason in libsndfile's words. The descriptor stays
// the caller's, open whatever the outcome; the file reads from its position on.
SNDFILE* OpenSoundFile(int descriptor, int mode, SF_INFO* info, std::string* reason);

}  // namespace voxtar::audio
