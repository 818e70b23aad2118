// The ALSA back end against ALSA's null device: a test configuration makes
// the default device a file plugin over "null", which every ALSA has, so
// playback is checked without a sound card, and a broken playback fails.
#include "platform/linux/AlsaAudio.h"

#include "support/TempDir.h"

#include <QFile>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace tarvina;

namespace {

QByteArray Wav(int channels, int rate, int bits, const QByteArray& samples, quint16 tag = 1) {
    QByteArray fmt(16, '\0');
    qToLittleEndian<quint16>(tag, fmt.data());
    qToLittleEndian<quint16>(static_cast<quint16>(channels), fmt.data() + 2);
    qToLittleEndian<quint32>(static_cast<quint32>(rate), fmt.data() + 4);
    qToLittleEndian<quint32>(static_cast<quint32>(rate * channels * bits / 8), fmt.data() + 8);
    qToLittleEndian<quint16>(static_cast<quint16>(channels * bits / 8), fmt.data() + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(bits), fmt.data() + 14);
    auto chunk = [](const QByteArray& id, const QByteArray& body) {
        QByteArray c = id + QByteArray(4, '\0') + body;
        qToLittleEndian<quint32>(static_cast<quint32>(body.size()), c.data() + 4);
        return c;
    };
    const QByteArray body = "WAVE" + chunk("fmt ", fmt) + chunk("data", samples);
    return chunk("RIFF", body);
}

} // namespace

TEST(AlsaAudio, PlaysAWaveIntoTheDefaultDeviceAndRefusesWhatIsNotOne) {
    tarvina::test::TempDir home;
    const QString out = home.file("played.raw");
    {
        // The system's configuration, then the default device replaced.
        QFile rc(home.file("asound.conf"));
        ASSERT_TRUE(rc.open(QIODevice::WriteOnly));
        rc.write("</usr/share/alsa/alsa.conf>\n"
                 "pcm.!default { type file slave.pcm \"null\" file \"" +
                 out.toUtf8() + "\" format \"raw\" }\n");
    }
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("ALSA_CONFIG_PATH", home.file("asound.conf").toLocal8Bit());

    const QByteArray samples(1600, '\x80');
    for (const auto& [name, bytes] : {std::pair{"good.wav", Wav(1, 8000, 8, samples)},
                                      std::pair{"adpcm.wav", Wav(1, 8000, 8, samples, 2)},
                                      std::pair{"short.wav", Wav(1, 8000, 8, samples).left(30)},
                                      std::pair{"text.wav", QByteArray("not a sound at all")}}) {
        QFile f(home.file(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    platform::AlsaAudio audio;
    EXPECT_FALSE(audio.playAsync(home.file("missing.wav")));
    EXPECT_FALSE(audio.playAsync(home.file("adpcm.wav")));
    EXPECT_FALSE(audio.playAsync(home.file("short.wav")));
    EXPECT_FALSE(audio.playAsync(home.file("text.wav")));
    ASSERT_TRUE(audio.playAsync(home.file("good.wav")));
    // What reached the device is the wave's samples, all of them.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile(out).size() >= samples.size(); }, 5000));
    QFile played(out);
    ASSERT_TRUE(played.open(QIODevice::ReadOnly));
    EXPECT_EQ(played.readAll().left(samples.size()), samples);
}
