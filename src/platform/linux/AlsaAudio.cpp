#include "platform/linux/AlsaAudio.h"

#include <QFile>
#include <QtEndian>
#include <alsa/asoundlib.h>

namespace tarvina::platform {

namespace {

void Quiet(const char*, int, const char*, int, const char*, ...) {}

// The PCM format of a RIFF/WAVE file; only uncompressed PCM is played.
struct WavInfo {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    QByteArray data;
};

// Alarm sounds are short; a larger file is not an alarm.
constexpr qint64 kMaxWav = 32LL * 1024 * 1024;

std::optional<WavInfo> ParseWav(const QByteArray& f) {
    if (f.size() < 12 || !f.startsWith("RIFF") || f.mid(8, 4) != "WAVE")
        return std::nullopt;
    WavInfo w;
    qsizetype pos = 12;
    bool fmt = false;
    while (pos + 8 <= f.size()) {
        const QByteArray id = f.mid(pos, 4);
        const quint32 len = qFromLittleEndian<quint32>(f.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (len > static_cast<quint64>(f.size() - body))
            return std::nullopt;
        if (id == "fmt " && len >= 16) {
            const quint16 tag = qFromLittleEndian<quint16>(f.constData() + body);
            w.channels = qFromLittleEndian<quint16>(f.constData() + body + 2);
            w.rate = static_cast<int>(qFromLittleEndian<quint32>(f.constData() + body + 4));
            w.bits = qFromLittleEndian<quint16>(f.constData() + body + 14);
            if (tag != 1)
                return std::nullopt;
            fmt = true;
        } else if (id == "data") {
            w.data = f.mid(body, len);
            break;
        }
        pos = body + len + (len & 1);
    }
    if (!fmt || w.channels < 1 || w.channels > 8 || w.rate < 1000 || w.rate > 192000 ||
        (w.bits != 8 && w.bits != 16) || w.data.isEmpty())
        return std::nullopt;
    return w;
}

struct Mixer {
    snd_mixer_t* handle = nullptr;
    snd_mixer_elem_t* master = nullptr;
    long min = 0, max = 0;
    Mixer() {
        if (snd_mixer_open(&handle, 0) < 0)
            return;
        if (snd_mixer_attach(handle, "default") < 0 ||
            snd_mixer_selem_register(handle, nullptr, nullptr) < 0 || snd_mixer_load(handle) < 0)
            return;
        snd_mixer_selem_id_t* sid;
        snd_mixer_selem_id_alloca(&sid);
        snd_mixer_selem_id_set_index(sid, 0);
        snd_mixer_selem_id_set_name(sid, "Master");
        master = snd_mixer_find_selem(handle, sid);
        if (master &&
            (!snd_mixer_selem_has_playback_volume(master) ||
             snd_mixer_selem_get_playback_volume_range(master, &min, &max) < 0 || max <= min))
            master = nullptr;
    }
    ~Mixer() {
        if (handle)
            snd_mixer_close(handle);
    }
};

} // namespace

AlsaAudio::AlsaAudio() {
    snd_lib_error_set_handler(&Quiet);
}

AlsaAudio::~AlsaAudio() {
    if (player_) {
        stop_->store(true);
        player_->join();
    }
}

bool AlsaAudio::playAsync(const QString& wavPath) {
    QFile file(wavPath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxWav)
        return false;
    const auto wav = ParseWav(file.readAll());
    if (!wav)
        return false;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
        return false;
    if (snd_pcm_set_params(pcm, wav->bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                           SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(wav->channels),
                           static_cast<unsigned>(wav->rate), 1, 500000) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    if (player_) {
        stop_->store(true);
        player_->join();
    }
    stop_ = std::make_shared<std::atomic<bool>>(false);
    auto stop = stop_;
    player_ = std::make_unique<std::thread>([pcm, wav = *wav, stop] {
        const int frameBytes = wav.channels * wav.bits / 8;
        const snd_pcm_uframes_t total =
            static_cast<snd_pcm_uframes_t>(wav.data.size() / frameBytes);
        snd_pcm_uframes_t done = 0;
        while (done < total && !stop->load()) {
            const snd_pcm_uframes_t chunk = std::min<snd_pcm_uframes_t>(total - done, 4096);
            snd_pcm_sframes_t n =
                snd_pcm_writei(pcm, wav.data.constData() + done * frameBytes, chunk);
            if (n < 0)
                n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (n < 0)
                break;
            done += static_cast<snd_pcm_uframes_t>(n);
        }
        if (!stop->load())
            snd_pcm_drain(pcm);
        snd_pcm_close(pcm);
    });
    return true;
}

std::optional<Audio::Volume> AlsaAudio::volume() {
    Mixer m;
    if (!m.master)
        return std::nullopt;
    long l = 0, r = 0;
    if (snd_mixer_selem_get_playback_volume(m.master, SND_MIXER_SCHN_FRONT_LEFT, &l) < 0)
        return std::nullopt;
    if (snd_mixer_selem_get_playback_volume(m.master, SND_MIXER_SCHN_FRONT_RIGHT, &r) < 0)
        r = l;
    auto scale = [&](long v) {
        return static_cast<quint16>((v - m.min) * 0xFFFF / (m.max - m.min));
    };
    return Volume{scale(l), scale(r)};
}

bool AlsaAudio::setVolume(Volume v) {
    Mixer m;
    if (!m.master)
        return false;
    auto scale = [&](quint16 x) {
        return m.min + (static_cast<long>(x) * (m.max - m.min)) / 0xFFFF;
    };
    const bool l = snd_mixer_selem_set_playback_volume(m.master, SND_MIXER_SCHN_FRONT_LEFT,
                                                       scale(v.left)) >= 0;
    snd_mixer_selem_set_playback_volume(m.master, SND_MIXER_SCHN_FRONT_RIGHT, scale(v.right));
    return l;
}

} // namespace tarvina::platform
