#pragma once
// Synchronous WAV playback. A missing, unreadable or unplayable file, or no sound device, is silence:
// never a default sound and never a message box.

#include <QString>

namespace veltrane {

class Sound {
public:
    virtual ~Sound() = default;
    // Returns when the sound has finished. False when nothing was played.
    virtual bool play(const QString& path) = 0;
};

// libsndfile decodes, ALSA device "default" plays (snd_pcm_writei, then snd_pcm_drain).
class AlsaSound final : public Sound {
public:
    bool play(const QString& path) override;
};

}  // namespace veltrane
