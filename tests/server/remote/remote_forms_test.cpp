// The remote control windows without widgets: the capture's checks and
// label, the task window, the configuration window's rules, and the lines
// their senders write.
#include "protocol/Block.h"
#include "server/BmpSamples.h"
#include "server/ComputersFixture.h"
#include "server/remote/Capture.h"
#include "server/remote/ConfigOutbox.h"
#include "server/remote/RemoteConfigForm.h"
#include "server/remote/RemoteSenders.h"
#include "server/remote/TaskWindowForm.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using K = ConfigCommand::Kind;
using tarvina::test::MakeBmp;

namespace {

TEST(Capture, PicturesThatHoldUpAndTheirLabels) {
    const BmpCheck ok = CheckBmp(MakeBmp(1366, 768, 32));
    ASSERT_TRUE(ok.info) << ok.error.toStdString();
    EXPECT_EQ(InfoLabel(*ok.info), QStringLiteral("Resolución 1366x768, 32 bits"));
    // Rows stored top-down have a negative height.
    const BmpCheck down = CheckBmp(MakeBmp(3, -2, 24));
    ASSERT_TRUE(down.info);
    EXPECT_EQ(InfoLabel(*down.info), QStringLiteral("Resolución 3x2, 24 bits"));

    const struct {
        int bpp;
        quint32 compression;
        std::array<quint32, 3> masks;
        const char16_t* text;
    } depths[] = {
        {1, 0, {}, u"1 bit"},
        {4, 0, {}, u"4 bits"},
        {8, 0, {}, u"8 bits (256 colores)"},
        {16, 0, {}, u"15 bits (32K colores)"},
        {16, 3, {0xF800, 0x07E0, 0x1F}, u"16 bits (64K colores)"},
        {16, 3, {0xF00, 0xF0, 0xF}, u"Colores no especifico"},
        {32, 3, {0xFF, 0xFF00, 0xFF0000}, u"Colores no especifico"},
    };
    for (const auto& d : depths) {
        const BmpCheck c = CheckBmp(MakeBmp(8, 2, d.bpp, d.compression, d.masks));
        ASSERT_TRUE(c.info) << d.bpp << " " << c.error.toStdString();
        EXPECT_EQ(DepthText(*c.info), QString::fromUtf16(d.text));
    }
    BmpInfo odd;
    odd.width = 4;
    odd.height = 4;
    odd.bitCount = 2;
    EXPECT_EQ(InfoLabel(odd), QStringLiteral("Colores n/a"));
}

TEST(Capture, ImpossiblePicturesAreRefusedInSpanish) {
    // A header for a screen no machine has: nothing is decoded.
    const BmpCheck huge = CheckBmp(MakeBmp(100000, 100000, 24, 0, {}, 16));
    EXPECT_FALSE(huge.info);
    EXPECT_EQ(huge.error, QStringLiteral("imagen BMP de tamaño imposible (100000x100000)"));
    EXPECT_FALSE(CheckBmp(MakeBmp(0, 10, 24)).info);
    EXPECT_FALSE(CheckBmp(MakeBmp(30000, 30000, 8, 1, {}, 16)).info) << "over the pixel bound";
    // The rows the header promises are not all in the block.
    const BmpCheck cut = CheckBmp(MakeBmp(1920, 1080, 32, 0, {}, 1000));
    EXPECT_FALSE(cut.info);
    EXPECT_TRUE(cut.error.startsWith(QStringLiteral("imagen BMP incompleta")))
        << cut.error.toStdString();
    EXPECT_EQ(CheckBmp("GIF89a....................").error, QStringLiteral("no es una imagen BMP"));
    EXPECT_FALSE(CheckBmp(MakeBmp(4, 4, 24, 9)).info) << "unknown compression";
    QByteArray shortHeader = MakeBmp(4, 4, 24);
    qToLittleEndian<quint32>(5000, shortHeader.data() + 14);
    EXPECT_EQ(CheckBmp(shortHeader).error, QStringLiteral("encabezado de imagen BMP dañado"));
}

TEST(Capture, RequestsRetitleAndAFailedPictureKeepsTheWindowWaiting) {
    CaptureForm f;
    EXPECT_EQ(f.caption(), QStringLiteral("Captura"));
    f.request(QStringLiteral("PC1"));
    f.request(QStringLiteral("PC2"));
    EXPECT_EQ(f.caption(), QStringLiteral("Instantánea del escritorio de PC2"));
    EXPECT_EQ(f.label(), CaptureForm::WaitingLabel());
    QString error;
    EXPECT_FALSE(f.received(MakeBmp(100000, 2, 24, 0, {}, 0), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(f.waiting());
    EXPECT_EQ(f.label(), CaptureForm::WaitingLabel());
    // The first answer arrives under the second title.
    ASSERT_TRUE(f.received(MakeBmp(1024, 768, 24)));
    EXPECT_EQ(f.caption(), QStringLiteral("Instantánea del escritorio de PC2"));
    EXPECT_EQ(f.label(), QStringLiteral("Resolución 1024x768, 24 bits"));
    EXPECT_EQ(f.presetFileName(), QStringLiteral("PC2.bmp"));
    f.request(QStringLiteral("../../etc/passwd"));
    EXPECT_EQ(f.presetFileName(), QStringLiteral("_.._etc_passwd.bmp"));
    f.request(QString());
    EXPECT_EQ(f.presetFileName(), QStringLiteral("captura.bmp"));
}

TEST(Capture, FittingModes) {
    using F = CaptureForm::Fit;
    const QSize pic(400, 300), area(1000, 450);
    EXPECT_EQ(CaptureForm::Placement(F::Natural, pic, area), QList<QRect>{QRect(0, 0, 400, 300)});
    EXPECT_EQ(CaptureForm::Placement(F::Fill, pic, area), QList<QRect>{QRect(0, 0, 1000, 450)});
    // The smaller factor: 450 / 300.
    EXPECT_EQ(CaptureForm::Placement(F::Scale, pic, area), QList<QRect>{QRect(0, 0, 600, 450)});
    const QList<QRect> tiles = CaptureForm::Placement(F::Tile, pic, area);
    EXPECT_EQ(tiles.size(), 3 * 2);
    EXPECT_EQ(tiles.last(), QRect(800, 300, 400, 300));
    EXPECT_EQ(CaptureForm::Placement(F::Tile, QSize(1, 1), QSize(4000, 4000)).size(),
              CaptureForm::kMaxTiles);
    EXPECT_EQ(CaptureForm::FitItems().size(), 4);
}

TEST(TaskWindow, ListFinishAndQuotedTitles) {
    TaskWindowForm f;
    f.fill(nullptr, QStringLiteral("PC1"), "Calc,\"Mi PC, carpeta\",\"Di \"\"hola\"\"\",xterm");
    ASSERT_EQ(f.tasks().size(), 4);
    EXPECT_EQ(f.tasks()[1], QStringLiteral("Mi PC, carpeta"));
    EXPECT_EQ(f.tasks()[2], QStringLiteral("Di \"hola\""));
    EXPECT_FALSE(f.finishEnabled());
    EXPECT_TRUE(f.finish().isEmpty());
    f.select(1);
    EXPECT_TRUE(f.finishEnabled());
    EXPECT_EQ(f.finish(), QStringLiteral("Mi PC, carpeta"));
    EXPECT_FALSE(f.finishEnabled());
    EXPECT_EQ(f.tasks(), (QStringList{"Calc", "Di \"hola\"", "xterm"}));
    f.select(7);
    EXPECT_FALSE(f.finishEnabled());
    f.fill(nullptr, QStringLiteral("PC1"), "\"\"");
    EXPECT_TRUE(f.tasks().isEmpty());
}

RemoteConfig SampleConfig() {
    RemoteConfig c;
    c.background = QStringLiteral("C:\\Tarvina\\fondo.jpg");
    c.taskBarHidden = true;
    c.style = 2;
    c.hiddenDrives = 0;
    c.banners = {{5, QStringLiteral("uno.gif")},
                 {8, QStringLiteral("dos.gif")},
                 {5, QStringLiteral("tres.gif")}};
    return c;
}

class ConfigForm : public ::testing::Test {
protected:
    ConfigForm() : form(clock) {
        record.name = QStringLiteral("PC7");
        form.show(&record, QStringLiteral("PC7"), SampleConfig());
    }
    platform::FakeClock clock;
    TCompItem record;
    RemoteConfigForm form;
};

TEST_F(ConfigForm, FilledWindowAndTheWaitingState) {
    EXPECT_EQ(form.title(), QStringLiteral("Configuración remota"));
    EXPECT_EQ(form.header(), QStringLiteral("Configuración de PC7"));
    EXPECT_EQ(form.drivesButton(), QStringLiteral("Envía configuración a PC7"));
    EXPECT_TRUE(form.enabled());
    EXPECT_FALSE(form.taskBarVisible());
    ASSERT_EQ(form.rows().size(), 3);
    EXPECT_EQ(form.rows()[2].position, 2);

    const auto sent = form.setStyle(1);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].kind, K::Style);
    EXPECT_EQ(sent[1].kind, K::Query);
    EXPECT_EQ(form.title(), QStringLiteral("Esperando actualización"));
    EXPECT_EQ(form.header(), QStringLiteral("Esperando configuración"));
    EXPECT_FALSE(form.enabled());

    // A station that never answers: the window comes back with a note.
    clock.advanceMs(RemoteConfigForm::kWaitLimitMs - 1);
    EXPECT_FALSE(form.tick());
    clock.advanceMs(1);
    EXPECT_TRUE(form.tick());
    EXPECT_TRUE(form.enabled());
    EXPECT_TRUE(form.header().startsWith(QStringLiteral("Sin respuesta de PC7")));

    // A report with no banners still fills and opens the window.
    RemoteConfig empty;
    form.setStyle(0);
    form.show(&record, QStringLiteral("PC7"), empty);
    EXPECT_TRUE(form.enabled());
    EXPECT_TRUE(form.rows().isEmpty());
    EXPECT_EQ(form.header(), QStringLiteral("Configuración de PC7"));
}

TEST_F(ConfigForm, TaskBarBoxMeansVisibleAndFlagsSendTheirState) {
    const auto shown = form.setTaskBarVisible(true);
    EXPECT_EQ(shown[0].code, 0x27);
    EXPECT_FALSE(shown[0].on) << "visible is not hidden";
    EXPECT_TRUE(form.setTaskBarVisible(false)[0].on);
    EXPECT_EQ(form.setAutoStart(true)[0].code, 0x26);
    EXPECT_FALSE(form.setLogoProtect(false)[0].on);
    const auto cleared = form.clearFile(0x22);
    EXPECT_EQ(cleared[0].kind, K::File);
    EXPECT_TRUE(cleared[0].path.isEmpty());
}

TEST_F(ConfigForm, DrivesUntickedBecomeTheMask) {
    EXPECT_TRUE(form.driveTicked(0));
    form.setDriveTicked(0, false);
    form.setDriveTicked(1, false);
    form.setDriveTicked(25, false);
    form.setDriveTicked(25, true);
    const auto sent = form.sendDrives();
    ASSERT_EQ(sent[0].kind, K::Disks);
    EXPECT_EQ(sent[0].mask, 3u);
    RemoteConfig c;
    c.hiddenDrives = 1u << 3;
    form.show(&record, QStringLiteral("PC7"), c);
    EXPECT_FALSE(form.driveTicked(3));
    EXPECT_TRUE(form.driveTicked(2));
}

TEST_F(ConfigForm, BannerGridUpdateDeleteAndAdd) {
    // Only a delay edited: one "31", no "30".
    form.setRowSeconds(1, 20);
    auto sent = form.update([](const QString&) { return true; });
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].kind, K::Delay);
    EXPECT_EQ(sent[0].position, 1);
    EXPECT_EQ(sent[0].value, 20);
    EXPECT_EQ(sent[1].kind, K::Query);

    form.show(&record, QStringLiteral("PC7"), SampleConfig());
    const QString chosen = QStringLiteral("/home/caja/ofertas/verano.png");
    form.setRowFile(0, chosen);
    const int added = form.addRow();
    form.setRowName(added, QStringLiteral("nuevo.gif"));
    const int missing = form.addRow();
    form.setRowName(missing, QStringLiteral("no-existe.gif"));
    sent = form.update([&](const QString& p) { return p == chosen || p == "nuevo.gif"; });
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent[0].kind, K::Banner);
    EXPECT_EQ(sent[0].position, 0);
    EXPECT_EQ(sent[0].path, chosen);
    EXPECT_EQ(sent[1].kind, K::Banner);
    EXPECT_EQ(sent[1].position, -1);
    EXPECT_EQ(sent[1].path, QStringLiteral("nuevo.gif"));
    EXPECT_EQ(sent[2].kind, K::Query);

    // A row added here goes without a word; a listed one says its position.
    form.show(&record, QStringLiteral("PC7"), SampleConfig());
    form.addRow();
    EXPECT_TRUE(form.deleteRow(3).isEmpty());
    sent = form.deleteRow(1);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].kind, K::Delete);
    EXPECT_EQ(sent[0].position, 1);
    EXPECT_EQ(form.rows().size(), 2);
    EXPECT_TRUE(form.deleteRow(9).isEmpty());

    // Names are cut to the grid's width; an unchanged grid sends nothing.
    RemoteConfig longName;
    longName.banners = {{5, QString(300, QLatin1Char('x'))}};
    form.show(&record, QStringLiteral("PC7"), longName);
    EXPECT_EQ(form.rows()[0].name.size(), RemoteConfigForm::kMaxBannerName);
    EXPECT_TRUE(form.update([](const QString&) { return true; }).isEmpty());
    EXPECT_TRUE(form.enabled());
}

TEST_F(ConfigForm, TransparencySliderAndReports) {
    auto sent = form.setSlider(90);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].kind, K::Transparency);
    EXPECT_TRUE(form.enabled()) << "the slider does not wait";
    EXPECT_EQ(OpacityFromSlider(90), 0x1A);
    EXPECT_EQ(OpacityFromSlider(0), 0xFF);
    EXPECT_TRUE(form.transparencyReported(&record, 3));
    EXPECT_EQ(form.slider(), 98);
    TCompItem other;
    EXPECT_FALSE(form.transparencyReported(&other, 255));
    EXPECT_EQ(form.slider(), 98);
}

TEST(ConfigFormStatic, PathsWiderThanTheirField) {
    const auto width = [](int n) { return [n](const QString& s) { return s.size() <= n; }; };
    const QString path = QStringLiteral("C:\\Archivos de programa\\Tarvina\\fondos\\playa.jpg");
    EXPECT_EQ(RemoteConfigForm::ElidePath(path, width(200)), path);
    EXPECT_EQ(RemoteConfigForm::ElidePath(path, width(20)),
              QStringLiteral("C:\\Arch...\\playa.jpg"));
    EXPECT_EQ(RemoteConfigForm::ElidePath(path, width(3)), QStringLiteral("...\\playa.jpg"));
    EXPECT_EQ(
        RemoteConfigForm::ElidePath(QStringLiteral("/srv/tarvina/fondos/playa.jpg"), width(16)),
        QStringLiteral("/sr.../playa.jpg"));
    EXPECT_EQ(FileNameOf(QStringLiteral("C:\\a/b\\c.gif")), QStringLiteral("c.gif"));
    EXPECT_EQ(WirePath(QStringLiteral("/home/caja/fondo.jpg")), "\\home\\caja\\fondo.jpg");
}

// --- the lines on the wire ---

class RemoteSenders : public test::ComputersFixture {};

TEST_F(RemoteSenders, TaskScreenAndQueryLines) {
    TCompItem* r = station(QStringLiteral("PC1"), 2, QStringLiteral("00-00-00-00-00-01"));
    ServerContext& ctx = core.context();
    EXPECT_EQ(TaskListQuery(ctx, r), SendResult::Sent);
    EXPECT_EQ(CloseTask(ctx, r, QStringLiteral("Mi PC, carpeta")), SendResult::Sent);
    CleanTasks(ctx, r);
    ScreenQuery(ctx, r);
    ConfigQuery(ctx, r);
    SetDiskState(ctx, r, 3);
    SetWallpaperStyle(ctx, r, 2);
    SetConfigFlag(ctx, r, 0x27, true);
    SetBannerDelay(ctx, r, 1, 20);
    DeleteBanner(ctx, r, 2);
    SetTransparency(ctx, r, 90);
    SetTransparency(ctx, r, 0);
    EXPECT_EQ(read(r), "09\r\n10Mi PC, carpeta\r\n15\r\n12\r\n21\r\n293\r\n252\r\n271\r\n"
                       "311,20\r\n322\r\n421A\r\n42FF\r\n");
    EXPECT_EQ(TaskListQuery(ctx, offline(QStringLiteral("PC9"))), SendResult::NotConnected);
}

TEST_F(RemoteSenders, FilesTravelAsBlocksWithinTheirBound) {
    TCompItem* r = station(QStringLiteral("PC1"), 1, QStringLiteral("00-00-00-00-00-01"));
    ServerContext& ctx = core.context();
    const QString path = QDir(dir.path()).filePath(QStringLiteral("playa.jpg"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("JPEGDATA");
    f.close();
    EXPECT_EQ(SendConfigFile(ctx, r, 0x22, path), SendResult::Sent);
    EXPECT_EQ(read(r), "22" + WirePath(path) + "\r\n" + protocol::EncodeBlock("JPEGDATA"));
    // No file: the code alone clears the setting.
    SendConfigFile(ctx, r, 0x23, QString());
    SendConfigFile(ctx, r, 0x24, path + QStringLiteral(".no"));
    EXPECT_EQ(read(r), "23\r\n24\r\n");
    EXPECT_EQ(SendBanner(ctx, r, -1, path), SendResult::Sent);
    EXPECT_EQ(read(r), "30-1,playa.jpg\r\n" + protocol::EncodeBlock("JPEGDATA"));
    EXPECT_EQ(SendBanner(ctx, r, 0, path + QStringLiteral(".no")), SendResult::NotConnected);

    // Over the bound: refused before a byte is read, the station hears nothing.
    const QString big = QDir(dir.path()).filePath(QStringLiteral("enorme.bmp"));
    QFile b(big);
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    ASSERT_TRUE(b.resize(kMaxConfigFile + 1));
    b.close();
    EXPECT_EQ(SendConfigFile(ctx, r, 0x24, big), SendResult::Failed);
    EXPECT_TRUE(read(r).isEmpty());
    core.drainHandOff();
    EXPECT_TRUE(core.console().texts().contains(
        QStringLiteral("Falla enviando comando de configuracion remota a PC1: el archivo "
                       "enorme.bmp pasa de 32 MiB")));
}

TEST_F(RemoteSenders, TheOutboxSendsInOrderOffTheCallersThread) {
    TCompItem* r = station(QStringLiteral("PC1"), 1, QStringLiteral("00-00-00-00-00-01"));
    RemoteConfigForm form(clock);
    form.show(r, QStringLiteral("PC1"), SampleConfig());
    ConfigOutbox outbox(core.context());
    outbox.send(r, form.setStyle(1));
    outbox.send(r, form.setSlider(45));
    outbox.waitIdle();
    EXPECT_EQ(read(r), "251\r\n21\r\n428D\r\n");
}

} // namespace
