#include "audio/audio_engine.h"

#include "audio/qt_audio_engine.h"

namespace voxtar::audio {

namespace {
AudioEngine* installed = nullptr;
}  // namespace

AudioEngine& Engine() {
  if (installed != nullptr) {
    return *installed;
  }
  // Made on first use, on the GUI thread, and kept to the end of the process: devices may still
  // be open while static objects go away.
  static QtAudioEngine* real = new QtAudioEngine();
  return *real;
}

void SetEngine(AudioEngine* engine) {
  installed = engine;
}

}  // namespace voxtar::audio
