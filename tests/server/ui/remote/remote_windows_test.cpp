// The remote control windows offscreen: what the capture window saves, the
// task window's close, and the configuration window's waiting state and
// what its controls send.
#include "platform/fake/FakeClock.h"
#include "server/BmpSamples.h"
#include "server/ui/remote/TfrmCapture.h"
#include "server/ui/remote/TfrmProcces.h"
#include "server/ui/remote/TfrmRemoteConfig.h"
#include "server/ui/shell/WidgetDialogs.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using K = ConfigCommand::Kind;

namespace {

TEST(CaptureWindow, SavesTheBytesAsTheyCameOrAsPng) {
    test::TempDir dir;
    TfrmCapture w;
    w.request(QStringLiteral("PC1"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Instantánea del escritorio de PC1"));
    EXPECT_TRUE(w.saveTo(QDir(dir.path()).filePath("nada.bmp")).has_value()) << "no picture yet";
    QByteArray bmp = test::MakeBmp(16, 8, 24);
    bmp[60] = char(0x7F); // a pixel that is not black
    ASSERT_TRUE(w.showPicture(bmp));
    EXPECT_EQ(w.infoLabel()->text(), QStringLiteral("Resolución 16x8, 24 bits"));
    const QString asBmp = QDir(dir.path()).filePath(w.form().presetFileName());
    EXPECT_TRUE(asBmp.endsWith("/PC1.bmp"));
    ASSERT_FALSE(w.saveTo(asBmp).has_value());
    QFile f(asBmp);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bmp);
    const QString asPng = QDir(dir.path()).filePath("pc1.png");
    ASSERT_FALSE(w.saveTo(asPng).has_value());
    const QImage png(asPng);
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(16, 8));
    // A picture of impossible size leaves the shown one.
    QString error;
    EXPECT_FALSE(w.showPicture(test::MakeBmp(70000, 2, 24, 0, {}, 0), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(w.image().size(), QSize(16, 8));
    EXPECT_FALSE(w.saveTo(QDir(dir.path()).filePath("no/such/folder/x.bmp")).value().isEmpty());
}

TEST(TaskWindow, FinishSendsTheTitleAndDropsTheLine) {
    QList<QString> sent;
    TCompItem record;
    TfrmProcces w([&](TCompItem* r, const QString& t) {
        EXPECT_EQ(r, &record);
        sent.append(t);
    });
    w.showList(&record, QStringLiteral("PC1"), "Calc,\"Mi PC, carpeta\"");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Programas en ejecución"));
    ASSERT_EQ(w.list()->count(), 2);
    EXPECT_FALSE(w.finishButton()->isEnabled());
    w.list()->item(1)->setSelected(true);
    EXPECT_TRUE(w.finishButton()->isEnabled());
    w.finishButton()->click();
    EXPECT_EQ(sent, QList<QString>{QStringLiteral("Mi PC, carpeta")});
    EXPECT_EQ(w.list()->count(), 1);
    EXPECT_FALSE(w.finishButton()->isEnabled());
}

TEST(ConfigWindow, WaitsAfterAChangeAndRefillsOnTheReport) {
    platform::FakeClock clock;
    TCompItem record;
    QList<ConfigCommand> sent;
    TfrmRemoteConfig w(clock, [&](TCompItem*, const QList<ConfigCommand>& c) { sent += c; });
    RemoteConfig c;
    c.autoStart = false;
    c.banners = {{5, QStringLiteral("zu26x.gif")}};
    w.showConfig(&record, QStringLiteral("PC1"), c);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Configuración remota"));
    EXPECT_EQ(w.headerLabel()->text(), QStringLiteral("Configuración de PC1"));
    EXPECT_EQ(w.drivesButton()->text(), QStringLiteral("Envía configuración a PC1"));
    EXPECT_EQ(w.bannerGrid()->rowCount(), 1);
    EXPECT_TRUE(w.autoStartBox()->isEnabled());

    w.autoStartBox()->click();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].code, 0x26);
    EXPECT_TRUE(sent[0].on);
    EXPECT_EQ(sent[1].kind, K::Query);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Esperando actualización"));
    EXPECT_EQ(w.headerLabel()->text(), QStringLiteral("Esperando configuración"));
    EXPECT_FALSE(w.autoStartBox()->isEnabled());
    EXPECT_FALSE(w.updateButton()->isEnabled());

    c.autoStart = true;
    w.showConfig(&record, QStringLiteral("PC1"), c);
    EXPECT_TRUE(w.autoStartBox()->isChecked());
    EXPECT_TRUE(w.autoStartBox()->isEnabled());

    // The slider sends at once and does not wait; a report moves it
    // without sending.
    sent.clear();
    w.transparencySlider()->setValue(90);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].kind, K::Transparency);
    EXPECT_TRUE(w.autoStartBox()->isEnabled());
    w.transparencyReported(&record, 255);
    EXPECT_EQ(w.transparencySlider()->value(), 0);
    EXPECT_EQ(sent.size(), 1);

    // Deleting a listed banner sends its position.
    sent.clear();
    w.bannerGrid()->setCurrentCell(0, 0);
    w.deleteRowButton()->click();
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].kind, K::Delete);
    EXPECT_EQ(sent[0].position, 0);
    EXPECT_EQ(w.bannerGrid()->rowCount(), 0);

    EXPECT_EQ(WidgetDialogs::QtFilter(RemoteConfigForm::WallpaperFilter()),
              QStringLiteral("Mapas de bits (*.bmp *.BMP)"));
    EXPECT_TRUE(WidgetDialogs::QtFilter(RemoteConfigForm::PictureFilter())
                    .startsWith(QStringLiteral("Todos (*.gif *.GIF *.jpg *.JPG *.jpeg")));
    EXPECT_EQ(WidgetDialogs::QtFilter(QStringLiteral("BMP|*.bmp|Todos|*.*")),
              QStringLiteral("BMP (*.bmp *.BMP);;Todos (*)"));
}

} // namespace
