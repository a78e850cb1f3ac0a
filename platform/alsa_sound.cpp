#include "platform/sound.h"

#include <QFile>

#include <alsa/asoundlib.h>
#include <sndfile.h>

#include <memory>
#include <mutex>
#include <vector>

namespace veltrane {
namespace {

// Silence means silence: ALSA would otherwise print its complaints about a missing device to stderr.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};

// Frames per write: small enough to keep memory flat for long files.
constexpr sf_count_t kChunkFrames = 4096;

}  // namespace

bool AlsaSound::play(const QString& path) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(&quietAlsa); });

    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndfileCloser> file(
        sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (!file || info.channels < 1 || info.samplerate < 1 || info.frames < 1) return false;

    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
    std::unique_ptr<snd_pcm_t, PcmCloser> pcm(raw);
    // Whatever the file's own sample format, libsndfile hands over 16-bit samples, which every device takes.
    if (snd_pcm_set_params(pcm.get(), SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                           static_cast<unsigned>(info.channels), static_cast<unsigned>(info.samplerate),
                           1 /* resample when the device cannot take the rate */, 100000 /* us */) < 0)
        return false;

    std::vector<short> samples(static_cast<std::size_t>(kChunkFrames * info.channels));
    bool played = false;
    for (;;) {
        const sf_count_t frames = sf_readf_short(file.get(), samples.data(), kChunkFrames);
        if (frames <= 0) break;
        const short* at = samples.data();
        snd_pcm_uframes_t left = static_cast<snd_pcm_uframes_t>(frames);
        while (left > 0) {
            snd_pcm_sframes_t written = snd_pcm_writei(pcm.get(), at, left);
            // An underrun (the device ran dry while the file was read) is recovered, not fatal.
            if (written < 0) written = snd_pcm_recover(pcm.get(), static_cast<int>(written), 1);
            if (written < 0) return played;
            left -= static_cast<snd_pcm_uframes_t>(written);
            at += written * info.channels;
            played = played || written > 0;
        }
    }
    snd_pcm_drain(pcm.get());
    return played;
}

}  // namespace veltrane
