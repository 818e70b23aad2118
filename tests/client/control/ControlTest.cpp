// Machine control without a display: the task list and its clean, the
// screen's squares and its bitmap file, the files the server sends, the
// banner list, the remote configuration and the run box.
#include "client/control/Banners.h"
#include "client/control/BmpImage.h"
#include "client/control/ReceivedFiles.h"
#include "client/control/RemoteConfig.h"
#include "client/control/RunCommand.h"
#include "client/control/TaskList.h"
#include "client/control/Wallpaper.h"
#include "client/station/ClientSettings.h"
#include "common/Cp1252.h"
#include "platform/DisplayModes.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/FakeWindowSystem.h"
#include "platform/fake/MemoryRegistry.h"
#include "protocol/Block.h"
#include "protocol/Codes.h"
#include "protocol/Fields.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
namespace tc = protocol::tc;
using platform::Root;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

quint32 U32(const QByteArray& b, int at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}
quint16 U16(const QByteArray& b, int at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}

// A picture whose every pixel tells its place: blue = x, green = y, red = 7.
platform::ScreenImage Pattern(int w, int h, int depth) {
    platform::ScreenImage img;
    img.width = w;
    img.height = h;
    img.depth = depth;
    img.pixels.resize(static_cast<qsizetype>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            char* p = img.pixels.data() + (static_cast<qsizetype>(y) * w + x) * 4;
            p[0] = static_cast<char>(x);
            p[1] = static_cast<char>(y);
            p[2] = 7;
            p[3] = 0;
        }
    return img;
}

} // namespace

// --- screen ------------------------------------------------------------------

TEST(ScreenSquares, ColumnsFromTheLeftEachFromTheTopCutAtTheEdges) {
    const auto plan = platform::SquarePlan(1024, 768);
    ASSERT_EQ(plan.size(), 21 * 16);
    EXPECT_EQ(plan[0].x, 0);
    EXPECT_EQ(plan[1].y, 50); // the second square is below the first
    EXPECT_EQ(plan[16].x, 50);
    EXPECT_EQ(plan[16].y, 0);
    EXPECT_EQ(plan.last().width, 24);
    EXPECT_EQ(plan.last().height, 18);

    const auto wide = platform::SquarePlan(1366, 768);
    ASSERT_EQ(wide.size(), 28 * 16);
    EXPECT_EQ(wide.last().x, 1350);
    EXPECT_EQ(wide.last().width, 16);
    qint64 area = 0;
    for (const auto& s : wide)
        area += static_cast<qint64>(s.width) * s.height;
    EXPECT_EQ(area, 1366LL * 768);
    EXPECT_TRUE(platform::SquarePlan(0, 768).isEmpty());
}

TEST(BmpImage, TwentyFourBitRowsFromTheBottomPaddedToFourBytes) {
    const QByteArray bmp = EncodeBmp(Pattern(3, 2, 24));
    const int row = 12; // 3 * 3 bytes padded to 12
    ASSERT_EQ(bmp.size(), 54 + 2 * row);
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(U32(bmp, 2), static_cast<quint32>(bmp.size()));
    EXPECT_EQ(U32(bmp, 10), 54u);
    EXPECT_EQ(U32(bmp, 14), 40u);
    EXPECT_EQ(U32(bmp, 18), 3u);
    EXPECT_EQ(U32(bmp, 22), 2u);
    EXPECT_EQ(U16(bmp, 26), 1);
    EXPECT_EQ(U16(bmp, 28), 24);
    EXPECT_EQ(U32(bmp, 30), 0u);
    // The first row of the file is the screen's bottom row (y = 1).
    const char* first = bmp.constData() + 54;
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[1], 1);
    EXPECT_EQ(first[2], 7);
    EXPECT_EQ(first[3], 1); // x = 1
    EXPECT_EQ(first[9], 0); // padding
    const char* second = bmp.constData() + 54 + row;
    EXPECT_EQ(second[6], 2); // x = 2, y = 0
    EXPECT_EQ(second[7], 0);
}

TEST(BmpImage, ThirtyTwoBitDisplayAndImpossibleSizes) {
    const QByteArray bmp = EncodeBmp(Pattern(2, 2, 32));
    ASSERT_EQ(bmp.size(), 54 + 16);
    EXPECT_EQ(U16(bmp, 28), 32);
    EXPECT_EQ(bmp[54 + 4], 1); // bottom row first: x = 1 of y = 1
    EXPECT_EQ(bmp[54 + 5], 1);

    platform::ScreenImage broken = Pattern(4, 4, 24);
    broken.pixels.chop(1);
    EXPECT_TRUE(EncodeBmp(broken).isEmpty());
    EXPECT_TRUE(EncodeBmp({}).isEmpty());
    // A file whose size does not fit its header is never written.
    EXPECT_EQ(BmpFileSize(40000, 40000, 32), 0);
    EXPECT_EQ(BmpFileSize(-1, 10, 24), 0);
    EXPECT_EQ(BmpFileSize(1920, 1080, 24), 54 + 1920 * 3 * 1080);
}

TEST(BmpImage, ASixteenBitDisplayGivesASixteenBitBitmapOfItsColourMasks) {
    platform::ScreenImage img;
    img.width = 2;
    img.height = 1;
    img.depth = 16;
    img.pixels = QByteArray("\x00\x00\xFF\x00\xFF\xFF\xFF\x00", 8); // red, white
    const QByteArray bmp = EncodeBmp(img);
    ASSERT_EQ(bmp.size(), 54 + 12 + 4);
    EXPECT_EQ(U32(bmp, 10), 54u + 12u); // the pixels after the masks
    EXPECT_EQ(U16(bmp, 28), 16);
    EXPECT_EQ(U32(bmp, 30), 3u); // bit fields
    EXPECT_EQ(U32(bmp, 54), 0xF800u);
    EXPECT_EQ(U16(bmp, 66), 0xF800);
    EXPECT_EQ(U16(bmp, 68), 0xFFFF);
    EXPECT_EQ(BmpFileSize(2, 1, 16), bmp.size());
}

TEST(DisplayModes, TheCurrentModeAsXrandrPrintsIt) {
    const auto m = platform::ParseXrandrCurrent(
        "Screen 0: minimum 320 x 200, current 1920 x 1080, maximum 16384 x 16384\n"
        "HDMI-1 connected primary 1920x1080+0+0 (normal left inverted) 527mm x 296mm\n"
        "   1920x1080     60.00 +  50.00*   59.94\n"
        "   1280x720      60.00\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (platform::ScreenMode{1920, 1080, 50.0}));
    const auto xvfb = platform::ParseXrandrCurrent(
        "Screen 0: minimum 1 x 1, current 1280 x 1024, maximum 1280 x 1024\n"
        "screen connected 1280x1024+0+0 0mm x 0mm\n   1280x1024      0.00*\n");
    ASSERT_TRUE(xvfb);
    EXPECT_EQ(*xvfb, (platform::ScreenMode{1280, 1024, 0}));
    EXPECT_FALSE(platform::ParseXrandrCurrent("Can't open display"));
    EXPECT_FALSE(platform::ParseXrandrCurrent("Screen 0: current 0 x 0"));
}

// --- files from the server ------------------------------------------------------

TEST(ReceivedFiles, EveryNameLandsInTheProgramFolder) {
    test::TempDir home;
    const QString folder = home.file(QStringLiteral("puesto"));
    ReceivedFiles files(folder, QStringLiteral("/usr/bin/puesto"));
    QString err;
    const struct {
        QString sent;
        QString stored;
    } cases[] = {
        {QStringLiteral("../../etc/passwd"), QStringLiteral("passwd")},
        {QStringLiteral("/etc/hosts"), QStringLiteral("hosts")},
        {QStringLiteral("C:\\Archivos\\fondo.bmp"), QStringLiteral("fondo.bmp")},
        {QStringLiteral("..\\..\\x.gif"), QStringLiteral("x.gif")},
        {QStringLiteral("a") + QChar(0) + QStringLiteral("b.gif"), QStringLiteral("ab.gif")},
        {QStringLiteral("  con blancos.png "), QStringLiteral("con blancos.png")},
    };
    for (const auto& c : cases) {
        const auto name = files.store(c.sent, "datos", &err);
        ASSERT_TRUE(name) << c.sent.toStdString() << " " << err.toStdString();
        EXPECT_EQ(*name, c.stored);
        EXPECT_EQ(ReadAll(QDir(folder).filePath(c.stored)), "datos");
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 6);
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("passwd"))));

    for (const QString& bad :
         {QString(10000, u'a'), QString(), QStringLiteral(".."), QStringLiteral("dir/."),
          QStringLiteral("x\\"), QStringLiteral("puesto"), QStringLiteral("CliExcept.log"),
          QStringLiteral("esp.lng"), QStringLiteral("../NOALARM.TXT")}) {
        err.clear();
        EXPECT_FALSE(files.store(bad, "x", &err)) << bad.left(40).toStdString();
        EXPECT_FALSE(err.isEmpty());
    }
    // A name of 10 000 characters after a folder part is refused as well.
    EXPECT_FALSE(files.store(QStringLiteral("C:\\") + QString(10000, u'b'), "x", &err));
}

TEST(ReceivedFiles, ALinkOrAnotherCaseOfTheNameIsReplacedNeverFollowed) {
    test::TempDir home;
    const QString folder = home.file(QStringLiteral("puesto"));
    QDir().mkpath(folder);
    WriteAll(home.file(QStringLiteral("secreto")), "intacto");
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("secreto")),
                            QDir(folder).filePath(QStringLiteral("fondo.gif"))));
    WriteAll(QDir(folder).filePath(QStringLiteral("Banner1.GIF")), "viejo");
    ReceivedFiles files(folder, QString());
    QString err;
    ASSERT_TRUE(files.store(QStringLiteral("fondo.gif"), "nuevo", &err));
    EXPECT_EQ(ReadAll(home.file(QStringLiteral("secreto"))), "intacto");
    EXPECT_FALSE(QFileInfo(QDir(folder).filePath(QStringLiteral("fondo.gif"))).isSymLink());
    const auto name = files.store(QStringLiteral("banner1.gif"), "nuevo", &err);
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, QStringLiteral("Banner1.GIF"));
    EXPECT_EQ(ReadAll(QDir(folder).filePath(QStringLiteral("Banner1.GIF"))), "nuevo");
    QDir().mkpath(QDir(folder).filePath(QStringLiteral("carpeta")));
    EXPECT_FALSE(files.store(QStringLiteral("carpeta"), "x", &err));
}

TEST(ReceivedFiles, PicturesAreKnownByTheirFirstBytes) {
    EXPECT_TRUE(LooksLikePicture("BM\x36\x00"));
    EXPECT_TRUE(LooksLikePicture("GIF89a..."));
    EXPECT_TRUE(LooksLikePicture("\x89PNG\r\n\x1a\n...."));
    EXPECT_TRUE(LooksLikePicture("\xFF\xD8\xFF\xE0"));
    EXPECT_FALSE(LooksLikePicture("RIFF....WAVE"));
    EXPECT_FALSE(LooksLikePicture(""));
}

// --- tasks ---------------------------------------------------------------------

namespace {
struct Desk {
    platform::FakeWindowSystem windows;
    platform::MemoryRegistry registry;
    platform::FakeProcesses processes;
    TaskList tasks{windows, registry, processes, [](platform::WindowId w) { return w == 99; }};
    void open(platform::WindowId w, const QString& title, bool visible = true, qint64 pid = 0) {
        windows.windows[w] = {QStringLiteral("x"), title, visible, false, pid};
    }
    QStringList titles() {
        QStringList out;
        for (const auto& t : tasks.tasks())
            out << t.title;
        out.sort();
        return out;
    }
};
} // namespace

TEST(TaskList, VisibleTitledForeignWindowsTravelAsACommaList) {
    Desk d;
    d.open(1, QStringLiteral("Carta, borrador"));
    d.open(2, QStringLiteral("dice \"hola\""));
    d.open(3, QStringLiteral("oculta"), false);
    d.open(4, QString());
    d.open(99, QStringLiteral("Puesto")); // the station's own
    d.open(5, QString(300, u'x'));
    d.open(6, QStringLiteral("línea\r\nrota"));
    d.open(8, QStringLiteral("panel"));
    d.windows.windows[8].taskBar = true;
    const auto tasks = d.tasks.tasks();
    ASSERT_EQ(tasks.size(), 4);
    const QList<QByteArray> back = protocol::SplitCommaList(TaskList::Encode(tasks));
    ASSERT_EQ(back.size(), 4);
    QStringList titles;
    for (const QByteArray& b : back)
        titles << common::FromCp1252(b);
    EXPECT_TRUE(titles.contains(QStringLiteral("Carta, borrador")));
    EXPECT_TRUE(titles.contains(QStringLiteral("dice \"hola\"")));
    EXPECT_TRUE(titles.contains(QString(199, u'x')));
    EXPECT_TRUE(titles.contains(QStringLiteral("línea  rota")));
    // A list past the line's room leaves whole titles out.
    const QByteArray shortList = TaskList::Encode(tasks, 100);
    EXPECT_LE(shortList.size(), 100);
    EXPECT_EQ(protocol::SplitCommaList(shortList).size(), 3);
}

TEST(TaskList, CloseFindsTheTitleInAnyCaseCommasIncluded) {
    Desk d;
    d.open(1, QStringLiteral("Carta, borrador"));
    d.open(2, QStringLiteral("MSN Messenger"));
    d.open(99, QStringLiteral("Puesto"));
    EXPECT_TRUE(d.tasks.close(QStringLiteral("carta, BORRADOR")));
    EXPECT_FALSE(d.tasks.close(QStringLiteral("Puesto")));
    EXPECT_FALSE(d.tasks.close(QStringLiteral("Carta")));
    EXPECT_EQ(d.windows.closeCalls, QList<platform::WindowId>{1});
    EXPECT_TRUE(d.windows.quitCalls.isEmpty());
}

TEST(TaskList, MessengerGetsTheQuitRequestAndOtherwiseTheClose) {
    Desk d;
    d.open(2, QStringLiteral("MSN Messenger"), true, 4242);
    d.open(3, QStringLiteral("MSN Messenger - Conversación"), true, 4243);
    // Its close would only hide it: the program is asked to end.
    EXPECT_TRUE(d.tasks.close(QStringLiteral("msn messenger")));
    EXPECT_EQ(d.windows.quitCalls, QList<platform::WindowId>{2});
    EXPECT_TRUE(d.windows.closeCalls.isEmpty());
    // Only that exact title: a conversation window is closed as any other.
    EXPECT_TRUE(d.tasks.close(QStringLiteral("MSN Messenger - Conversación")));
    EXPECT_EQ(d.windows.closeCalls, QList<platform::WindowId>{3});
    // A desktop that cannot end the program still closes the window.
    d.windows.clearCalls();
    d.windows.quitWorks = false;
    EXPECT_TRUE(d.tasks.close(QStringLiteral("MSN MESSENGER")));
    EXPECT_EQ(d.windows.quitCalls, QList<platform::WindowId>{2});
    EXPECT_EQ(d.windows.closeCalls, QList<platform::WindowId>{2});
}

TEST(TaskList, EveryWindowOfTheStationsProcessIsItsOwnAndOthersKnowTheirProgram) {
    Desk d;
    d.processes.own = 500;
    d.processes.programs[700] = QStringLiteral("/usr/bin/xmessage");
    d.open(1, QStringLiteral("Advertencia"), true, 500); // a question box of the station
    d.open(2, QStringLiteral("Mensaje"), true, 700);
    d.open(3, QStringLiteral("Remoto"), true, 0); // a program the desktop says nothing of
    const auto tasks = d.tasks.tasks();
    ASSERT_EQ(tasks.size(), 2);
    for (const TaskList::Task& t : tasks) {
        if (t.window == 2) {
            EXPECT_EQ(t.pid, 700);
            EXPECT_EQ(t.program, QStringLiteral("/usr/bin/xmessage"));
        } else {
            EXPECT_EQ(t.window, 3u);
            EXPECT_EQ(t.pid, 0);
            EXPECT_TRUE(t.program.isEmpty());
        }
    }
    // The station's own box is neither closed by its title nor cleaned.
    EXPECT_FALSE(d.tasks.close(QStringLiteral("Advertencia")));
    d.tasks.recordBaseline();
    d.open(4, QStringLiteral("Otra caja"), true, 500);
    EXPECT_TRUE(d.tasks.clean({}).isEmpty());
    EXPECT_TRUE(d.windows.closeCalls.isEmpty());
}

TEST(TaskList, CleanClosesOnlyWhatWasNotOpenAtTheBaseline) {
    Desk d;
    d.open(1, QStringLiteral("Escritorio"));
    QStringList told;
    auto tell = [&](const QString& t) { told << t; };
    // No baseline recorded yet: nothing is closed.
    d.open(2, QStringLiteral("Juego"));
    EXPECT_TRUE(d.tasks.clean(tell).isEmpty());
    d.windows.windows.remove(2);

    d.tasks.recordBaseline();
    ASSERT_TRUE(d.tasks.baseline());
    EXPECT_EQ(*d.tasks.baseline(), QStringList{QStringLiteral("Escritorio")});
    // Exactly the baseline open: nothing to close.
    EXPECT_TRUE(d.tasks.clean(tell).isEmpty());

    d.open(2, QStringLiteral("Juego, nivel 2"));
    d.open(3, QStringLiteral("ESCRITORIO")); // the same title in another case stays
    EXPECT_EQ(d.tasks.clean(tell), QStringList{QStringLiteral("Juego, nivel 2")});
    EXPECT_EQ(told, QStringList{QStringLiteral("Juego, nivel 2")});
    EXPECT_EQ(d.windows.closeCalls, QList<platform::WindowId>{2});
}

TEST(TaskList, TareasEnFondoListsHiddenAndOwnWindowsUnderTheFrontOne) {
    Desk d;
    d.open(0x2A, QStringLiteral("Juego"), true, 70);
    d.open(0x2B, QStringLiteral("oculta"), false);
    d.open(99, QStringLiteral("Puesto")); // the station's own
    d.open(0x2C, QString());
    d.windows.windows[0x2A].className = QStringLiteral("juego.Juego");
    d.windows.stacking = {0x2A, 0x2B, 99, 0x2C};
    d.windows.foreground = 0x2A;
    d.processes.programs[70] = QStringLiteral("/usr/games/juego");
    EXPECT_EQ(d.tasks.BackgroundReport(),
              QStringLiteral("corriendo - 000000002A-->juego.Juego : /usr/games/juego\n"
                             "Juego[0000002A]\noculta[0000002B]\nPuesto[00000063]"));
}

TEST(TaskList, ABaselineTakenOnAnEmptyDesktopStillCleans) {
    Desk d;
    d.tasks.recordBaseline();
    ASSERT_TRUE(d.tasks.baseline());
    EXPECT_TRUE(d.tasks.baseline()->isEmpty());
    d.open(7, QStringLiteral("Navegador"));
    EXPECT_EQ(d.tasks.clean({}), QStringList{QStringLiteral("Navegador")});
}

// --- banners -------------------------------------------------------------------

TEST(Banners, KeyThenBannerTxtThenTheDefaultPicture) {
    test::TempDir home;
    platform::MemoryRegistry reg;
    Banners b(reg, home.path());
    b.load();
    EXPECT_EQ(b.list(), (QList<Banners::Entry>{{QStringLiteral("zu26x.gif"), 5}}));
    EXPECT_EQ(b.defaultSeconds(), 5);

    WriteAll(home.file(QStringLiteral("banner.TXT")), "Segundos=8\r\nuno.gif\r\n\r\ndos.png\r\n");
    b.load();
    EXPECT_EQ(b.defaultSeconds(), 8);
    EXPECT_EQ(b.list(), (QList<Banners::Entry>{{QStringLiteral("uno.gif"), 0},
                                               {QStringLiteral("dos.png"), 0}}));
    WriteAll(home.file(QStringLiteral("banner.TXT")), "=ocho\nuno.gif\n");
    b.load();
    EXPECT_EQ(b.defaultSeconds(), 5);

    const QString key = QStringLiteral("\\Software\\Velt\\Tarvina\\Background");
    reg.writeInteger(Root::LocalMachine, key, QStringLiteral("a.gif"), 3);
    reg.writeInteger(Root::LocalMachine, key, QStringLiteral("b.gif"), 9);
    b.load();
    EXPECT_EQ(b.list(),
              (QList<Banners::Entry>{{QStringLiteral("a.gif"), 3}, {QStringLiteral("b.gif"), 9}}));
}

TEST(Banners, PositionsReplaceAddChangeAndDeleteInPlace) {
    test::TempDir home;
    platform::MemoryRegistry reg;
    const QString key = QStringLiteral("\\Software\\Velt\\Tarvina\\Background");
    for (const char* n : {"a.gif", "b.gif", "c.gif"})
        reg.writeInteger(Root::LocalMachine, key, QString::fromLatin1(n), 4);
    Banners b(reg, home.path());
    b.load();
    b.setFile(1, QStringLiteral("nuevo.gif"));
    b.setFile(-1, QStringLiteral("extra.gif"));
    b.load();
    EXPECT_EQ(b.list(), (QList<Banners::Entry>{{QStringLiteral("a.gif"), 4},
                                               {QStringLiteral("nuevo.gif"), 4},
                                               {QStringLiteral("c.gif"), 4},
                                               {QStringLiteral("extra.gif"), 5}}));
    EXPECT_FALSE(b.setSeconds(7, 10));
    EXPECT_TRUE(b.setSeconds(0, 12));
    EXPECT_FALSE(b.remove(4));
    EXPECT_TRUE(b.remove(2));
    b.load();
    EXPECT_EQ(b.list(), (QList<Banners::Entry>{{QStringLiteral("a.gif"), 12},
                                               {QStringLiteral("nuevo.gif"), 4},
                                               {QStringLiteral("extra.gif"), 5}}));
}

TEST(Banners, APictureSentWithoutTheKeyStartsItFromTheListInForce) {
    test::TempDir home;
    platform::MemoryRegistry reg;
    Banners b(reg, home.path());
    b.load(); // the default picture alone
    b.setFile(-1, QStringLiteral("promo.gif"));
    b.load();
    EXPECT_EQ(b.list(), (QList<Banners::Entry>{{QStringLiteral("zu26x.gif"), 5},
                                               {QStringLiteral("promo.gif"), 5}}));
}

// --- remote configuration ------------------------------------------------------------

namespace {

struct Remote {
    test::TempDir home;
    platform::MemoryRegistry reg;
    platform::FakeDesktop desktop;
    platform::FakeAutostart autostart;
    QString folder = home.file(QStringLiteral("puesto"));
    ReceivedFiles files{folder, QStringLiteral("puesto")};
    Banners banners{reg, folder};
    bool backupWorks = true;
    RemoteConfig remote{{reg, desktop, autostart, files, banners, [this] { return backupWorks; }}};
    ClientSettings s = ClientSettings::Defaults();

    Remote() { banners.load(); }
    RemoteConfig::Result apply(int code, const QByteArray& payload,
                               std::optional<QByteArray> block = std::nullopt) {
        return remote.apply(code, payload, block, s);
    }

    // The report read back as the server reads it.
    struct Report {
        QList<QByteArray> lines;
        quint32 mask = 0;
        QList<QPair<qint32, QByteArray>> banners;
    };
    Report report() {
        const QByteArray body = remote.report(s);
        Report r;
        qsizetype at = 0;
        auto line = [&] {
            const qsizetype end = body.indexOf("\r\n", at);
            EXPECT_GE(end, 0);
            const QByteArray l = body.mid(at, end - at);
            at = end + 2;
            return l;
        };
        for (int i = 0; i < 7; ++i)
            r.lines << line();
        r.mask = *protocol::DecodeUInt32(body.mid(at, 4));
        const qint32 count = *protocol::DecodeInt32(body.mid(at + 4, 4));
        at += 8;
        for (qint32 i = 0; i < count; ++i) {
            const qint32 seconds = *protocol::DecodeInt32(body.mid(at, 4));
            at += 4;
            r.banners.append({seconds, line()});
        }
        EXPECT_EQ(at, body.size());
        return r;
    }
};

} // namespace

TEST(RemoteConfig, TheReportHasTheSevenLinesTheMaskAndTheBanners) {
    Remote r;
    r.s.background = QStringLiteral("bloqueo.gif");
    r.s.alarmSnd = QStringLiteral("alarma.wav");
    r.s.winBackground = QStringLiteral("fondo\r\nx.bmp");
    r.autostart.enabled = true;
    r.reg.writeInteger(Root::CurrentUser,
                       QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                                      "Explorer"),
                       QStringLiteral("NoDrives"), 12);
    const auto rep = r.report();
    EXPECT_EQ(rep.lines,
              (QList<QByteArray>{"bloqueo.gif", "alarma.wav", "1", "0", "0", "fondo  x.bmp", "0"}));
    EXPECT_EQ(rep.mask, 12u);
    ASSERT_EQ(rep.banners.size(), 1);
    EXPECT_EQ(rep.banners[0], (QPair<qint32, QByteArray>{5, "zu26x.gif"}));
}

TEST(RemoteConfig, StyleAutostartTaskBarLogosAndDrives) {
    Remote r;
    EXPECT_FALSE(r.apply(tc::SetWallpaperStyle, "2").failed());
    EXPECT_EQ(r.s.winBackgroundTile, 0);
    EXPECT_EQ(r.s.winBackgroundStyle, 2);
    EXPECT_EQ(r.report().lines[6], "2");
    QDir().mkpath(r.folder);
    WriteAll(QDir(r.folder).filePath(QStringLiteral("fondo.bmp")), "BM");
    r.s.winBackground = QStringLiteral("fondo.bmp");
    r.apply(tc::SetWallpaperStyle, "1");
    EXPECT_EQ(r.s.winBackgroundTile, 1);
    EXPECT_EQ(r.s.winBackgroundStyle, 0);
    ASSERT_EQ(r.desktop.wallpapers.size(), 1);
    EXPECT_EQ(r.desktop.wallpapers[0].mode, platform::Desktop::WallpaperMode::Tiled);

    r.apply(tc::SetAutoStart, "1");
    EXPECT_TRUE(r.autostart.enabled);
    r.apply(tc::SetAutoStart, "0");
    EXPECT_FALSE(r.autostart.enabled);
    r.autostart.fails = true;
    EXPECT_EQ(r.apply(tc::SetAutoStart, "1").step, QStringLiteral("AutoInit"));

    r.apply(tc::SetTaskBarHidden, "1");
    EXPECT_TRUE(r.s.glbBarraInvisible);
    EXPECT_EQ(r.desktop.taskBarCalls, QList<bool>{true});
    EXPECT_EQ(r.report().lines[3], "1");

    r.apply(tc::SetLogoProtect, "1");
    EXPECT_EQ(r.report().lines[4], "1");
    r.backupWorks = false;
    EXPECT_TRUE(r.apply(tc::SetLogoProtect, "1").failed());
    EXPECT_EQ(r.report().lines[4], "0");

    r.apply(tc::SetDiskState, "67108863");
    EXPECT_EQ(r.report().mask, 0x03FFFFFFu);
    EXPECT_EQ(r.desktop.hiddenDrives.last(), 0x03FFFFFFu);
    // Stored, but the desktop could not hide them: said, with its reason.
    r.desktop.hiddenDrivesFail = true;
    EXPECT_EQ(r.apply(tc::SetDiskState, "8").hiddenDrivesFailed,
              QStringLiteral("Permission denied"));
    EXPECT_EQ(r.report().mask, 8u);
    r.desktop.hiddenDrivesFail = false;
    EXPECT_EQ(r.apply(tc::SetDiskState, "muchas").step, QStringLiteral("SetDiskState"));
    EXPECT_EQ(r.report().mask, 8u);
}

TEST(RemoteConfig, FilesAreStoredInTheFolderAndRecordedByTheirName) {
    Remote r;
    auto res = r.apply(tc::SendBackground, "../../etc/passwd", QByteArray("GIF89a-datos"));
    EXPECT_FALSE(res.failed());
    EXPECT_EQ(r.s.background, QStringLiteral("passwd"));
    ASSERT_TRUE(res.lockPicture);
    EXPECT_EQ(*res.lockPicture, QStringLiteral("passwd"));
    EXPECT_EQ(ReadAll(QDir(r.folder).filePath(QStringLiteral("passwd"))), "GIF89a-datos");

    // Not a picture: the file stays, the lock's picture is cleared.
    res = r.apply(tc::SendBackground, "C:\\x\\nota.txt", QByteArray("hola"));
    EXPECT_EQ(res.step, QStringLiteral("ReceiveBackImage"));
    EXPECT_TRUE(r.s.background.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(QDir(r.folder).filePath(QStringLiteral("nota.txt"))));

    r.apply(tc::SendAlarmSound, "/usr/share/sounds/alarma.wav", QByteArray("RIFF"));
    EXPECT_EQ(r.s.alarmSnd, QStringLiteral("alarma.wav"));
    r.apply(tc::SendAlarmSound, "");
    EXPECT_TRUE(r.s.alarmSnd.isEmpty());

    r.apply(tc::SendWallpaper, "fondo.bmp", QByteArray("BM"));
    EXPECT_EQ(r.s.winBackground, QStringLiteral("fondo.bmp"));
    ASSERT_FALSE(r.desktop.wallpapers.isEmpty());
    EXPECT_EQ(r.desktop.wallpapers.last().path,
              QDir(r.folder).filePath(QStringLiteral("fondo.bmp")));
    // The desktop refuses it: the item is kept, the cashier is to be told.
    r.desktop.wallpaperFails = true;
    res = r.apply(tc::SetWallpaperStyle, "2");
    EXPECT_TRUE(res.wallpaperFailed);
    EXPECT_FALSE(res.failed());
    EXPECT_EQ(r.s.winBackgroundStyle, 2);
    r.desktop.wallpaperFails = false;

    // A name refused leaves the setting as it was and writes nothing.
    res = r.apply(tc::SendWallpaper, QByteArray(10000, 'n'), QByteArray("BM"));
    EXPECT_TRUE(res.failed());
    EXPECT_EQ(r.s.winBackground, QStringLiteral("fondo.bmp"));
    EXPECT_EQ(QDir(r.folder).entryList(QDir::Files).size(), 4);

    // A file that did not arrive whole: the sound and the wallpaper keep the
    // name they were sent under, the lock keeps its picture.
    QDir(r.folder).mkdir(QStringLiteral("sirena.wav"));
    res = r.apply(tc::SendAlarmSound, "C:\\sonidos\\sirena.wav", QByteArray("RIFF"));
    EXPECT_TRUE(res.failed());
    EXPECT_EQ(r.s.alarmSnd, QStringLiteral("sirena.wav"));
    res = r.remote.transferFailed(tc::SendWallpaper, QStringLiteral("C:\\w\\nuevo.bmp"),
                                  QStringLiteral("cortado"), r.s);
    EXPECT_TRUE(res.failed());
    EXPECT_EQ(r.s.winBackground, QStringLiteral("nuevo.bmp"));
    r.s.background = QStringLiteral("passwd");
    res = r.remote.transferFailed(tc::SendBackground, QStringLiteral("otro.gif"),
                                  QStringLiteral("cortado"), r.s);
    EXPECT_EQ(res.step, QStringLiteral("ReceiveBackImage"));
    EXPECT_EQ(r.s.background, QStringLiteral("passwd"));
}

TEST(RemoteConfig, BannerItemsAndTheirBadPositions) {
    Remote r;
    auto res = r.apply(tc::SendBanner, "-1,../promo.gif", QByteArray("GIF89a"));
    EXPECT_TRUE(res.bannersChanged);
    EXPECT_EQ(r.banners.list().size(), 2);
    EXPECT_EQ(r.banners.list()[1], (Banners::Entry{QStringLiteral("promo.gif"), 5}));

    EXPECT_FALSE(r.apply(tc::SetBannerDelay, "1,30").failed());
    EXPECT_EQ(r.banners.list()[1].seconds, 30);
    const auto before = r.banners.list();
    for (const QByteArray& bad : {QByteArray("7,10"), QByteArray("x,10"), QByteArray("1,-3"),
                                  QByteArray("1,diez"), QByteArray("99999999999,1")}) {
        res = r.apply(tc::SetBannerDelay, bad);
        EXPECT_TRUE(res.failed()) << bad.constData();
        EXPECT_EQ(res.step, QStringLiteral("SetBannerDelay"));
    }
    EXPECT_EQ(r.apply(tc::DeleteBanner, "5").step, QStringLiteral("SetBannerDelete"));
    EXPECT_EQ(r.apply(tc::SendBanner, "uno,x.gif", QByteArray("GIF89a")).step,
              QStringLiteral("SetBannerFile"));
    EXPECT_EQ(r.banners.list(), before);

    EXPECT_FALSE(r.apply(tc::DeleteBanner, "0").failed());
    EXPECT_EQ(r.banners.list(), (QList<Banners::Entry>{{QStringLiteral("promo.gif"), 30}}));
    const auto rep = r.report();
    ASSERT_EQ(rep.banners.size(), 1);
    EXPECT_EQ(rep.banners[0], (QPair<qint32, QByteArray>{30, "promo.gif"}));
}

// --- wallpaper -------------------------------------------------------------------

namespace {

struct WallpaperWorld {
    test::TempDir dir;
    platform::MemoryRegistry reg;
    platform::FakeDesktop desktop;
    Wallpaper rule{reg, desktop};
    QString file(const QString& name, const QByteArray& bytes = "BM") {
        const QString path = dir.file(name);
        WriteAll(path, bytes);
        return path;
    }
    QString value(Root root, const QString& key, const char* name) {
        return reg.readString(root, key, QString::fromLatin1(name)).value_or(QString());
    }
};

const QString kDesk = QStringLiteral("\\Control Panel\\Desktop");
const QString kBrowser =
    QStringLiteral("\\Software\\Microsoft\\Internet Explorer\\Desktop\\General");
const QString kDefDesk = QStringLiteral("\\.DEFAULT") + kDesk;
const QString kDefBrowser = QStringLiteral("\\.DEFAULT") + kBrowser;

} // namespace

TEST(Wallpaper, OnlyAnExistingBitmapOfAnyCaseIsApplied) {
    WallpaperWorld w;
    const QString jpg = w.file(QStringLiteral("fondo.jpg"));
    const QString upper = w.file(QStringLiteral("FONDO.BMP"));
    EXPECT_EQ(w.rule.apply(jpg, 0, 0), Wallpaper::Outcome::NotSet);
    EXPECT_EQ(w.rule.apply(w.dir.file(QStringLiteral("no-esta.bmp")), 0, 0),
              Wallpaper::Outcome::NotSet);
    EXPECT_EQ(w.rule.apply(QString(), 0, 0), Wallpaper::Outcome::NotSet);
    // A folder named like a picture is no picture.
    QDir().mkpath(w.dir.file(QStringLiteral("carpeta.bmp")));
    EXPECT_EQ(w.rule.apply(w.dir.file(QStringLiteral("carpeta.bmp")), 0, 0),
              Wallpaper::Outcome::NotSet);
    EXPECT_TRUE(w.desktop.wallpapers.isEmpty());
    EXPECT_FALSE(w.reg.keyExists(Root::CurrentUser, kDesk));

    EXPECT_EQ(w.rule.apply(upper, 0, 2), Wallpaper::Outcome::Written);
    ASSERT_EQ(w.desktop.wallpapers.size(), 1);
    EXPECT_EQ(w.desktop.wallpapers[0].path, upper);
    EXPECT_EQ(w.desktop.wallpapers[0].mode, platform::Desktop::WallpaperMode::Stretched);
}

TEST(Wallpaper, ValuesOfTheUserAndTheDefaultUserWrittenWhenTheyDiffer) {
    WallpaperWorld w;
    const QString bmp = w.file(QStringLiteral("cafe.bmp"));
    ASSERT_EQ(w.rule.apply(bmp, 1, 0), Wallpaper::Outcome::Written);
    for (const auto& [root, desk, browser] :
         {std::tuple{Root::CurrentUser, kDesk, kBrowser},
          std::tuple{Root::LocalMachine, kDefDesk, kDefBrowser}}) {
        for (const QString& key : {desk, browser}) {
            EXPECT_EQ(w.value(root, key, "Wallpaper"), bmp) << key.toStdString();
            EXPECT_EQ(w.value(root, key, "TileWallpaper"), QStringLiteral("1"));
            EXPECT_EQ(w.value(root, key, "WallpaperStyle"), QStringLiteral("0"));
        }
        EXPECT_EQ(w.value(root, browser, "BackupWallpaper"), bmp);
        EXPECT_FALSE(w.reg.valueExists(root, desk, QStringLiteral("BackupWallpaper")));
    }

    // The same picture (the stored path in another case) and style: nothing
    // is written again, the picture is still shown (the desktop may have been
    // changed behind the values).
    w.reg.writeString(Root::CurrentUser, kDesk, QStringLiteral("Wallpaper"), bmp.toUpper());
    w.reg.writeString(Root::CurrentUser, kBrowser, QStringLiteral("Wallpaper"),
                      QStringLiteral("x"));
    EXPECT_EQ(w.rule.apply(bmp, 1, 0), Wallpaper::Outcome::Shown);
    EXPECT_EQ(w.desktop.wallpapers.size(), 2);
    EXPECT_EQ(w.value(Root::CurrentUser, kBrowser, "Wallpaper"), QStringLiteral("x"));

    // Another style: everything written again.
    EXPECT_EQ(w.rule.apply(bmp, 0, 2), Wallpaper::Outcome::Written);
    EXPECT_EQ(w.value(Root::CurrentUser, kDesk, "Wallpaper"), bmp);
    EXPECT_EQ(w.value(Root::CurrentUser, kBrowser, "Wallpaper"), bmp);
    EXPECT_EQ(w.value(Root::LocalMachine, kDefDesk, "TileWallpaper"), QStringLiteral("0"));
    EXPECT_EQ(w.value(Root::LocalMachine, kDefDesk, "WallpaperStyle"), QStringLiteral("2"));
    EXPECT_EQ(w.desktop.wallpapers.last().mode, platform::Desktop::WallpaperMode::Stretched);
}

TEST(Wallpaper, AValueNotStoredOrAPictureNotShownIsAFailure) {
    WallpaperWorld w;
    const QString bmp = w.file(QStringLiteral("cafe.bmp"));
    w.desktop.wallpaperFails = true;
    EXPECT_EQ(w.rule.apply(bmp, 0, 0), Wallpaper::Outcome::Failed);
    w.desktop.wallpaperFails = false;
    EXPECT_EQ(w.rule.apply(bmp, 0, 0), Wallpaper::Outcome::Shown);
    // A store that cannot save: the desktop still gets the picture.
    w.reg.setFailSaves(true);
    EXPECT_EQ(w.rule.apply(bmp, 1, 0), Wallpaper::Outcome::Failed);
    EXPECT_EQ(w.desktop.wallpapers.size(), 3);
    EXPECT_EQ(w.desktop.wallpapers.last().mode, platform::Desktop::WallpaperMode::Tiled);
}

// --- run box ---------------------------------------------------------------------

TEST(RunCommand, ProgramsStartWithTheirArgumentsEverythingElseOpens) {
    test::TempDir home;
    WriteAll(home.file(QStringLiteral("carta.txt")), "hola");
    auto find = [](const QString& name) {
        return name == u"firefox" ? QStringLiteral("/usr/bin/firefox") : QString();
    };
    RunCommand c = RunCommand::Parse(QStringLiteral("firefox -new-window \"a b\""), find);
    EXPECT_EQ(c.kind, RunCommand::Kind::Program);
    EXPECT_EQ(c.target, QStringLiteral("/usr/bin/firefox"));
    EXPECT_EQ(c.arguments, (QStringList{QStringLiteral("-new-window"), QStringLiteral("a b")}));

    c = RunCommand::Parse(QStringLiteral("http://www.example.com/x?y=1"), find);
    EXPECT_EQ(c.kind, RunCommand::Kind::Open);
    EXPECT_EQ(c.target, QStringLiteral("http://www.example.com/x?y=1"));
    c = RunCommand::Parse(QStringLiteral("www.example.com"), find);
    EXPECT_EQ(c.target, QStringLiteral("http://www.example.com"));
    c = RunCommand::Parse(home.path(), find);
    EXPECT_EQ(c.kind, RunCommand::Kind::Open);
    c = RunCommand::Parse(QStringLiteral("  ") + home.file(QStringLiteral("carta.txt")), find);
    EXPECT_EQ(c.kind, RunCommand::Kind::Open);
    EXPECT_EQ(c.target, home.file(QStringLiteral("carta.txt")));
    EXPECT_EQ(RunCommand::Parse(QStringLiteral("noexiste --x"), find).kind, RunCommand::Kind::None);
    EXPECT_EQ(RunCommand::Parse(QString(), find).kind, RunCommand::Kind::None);

    // The real lookup: a shell is on every PATH; a path must be executable.
    c = RunCommand::Parse(QStringLiteral("sh -c true"), &RunCommand::FindOnPath);
    EXPECT_EQ(c.kind, RunCommand::Kind::Program);
    EXPECT_TRUE(QFileInfo(c.target).isAbsolute());
    EXPECT_TRUE(RunCommand::FindOnPath(home.file(QStringLiteral("carta.txt"))).isEmpty());

    platform::FakeShell shell;
    EXPECT_TRUE(RunCommand::Parse(QStringLiteral("firefox x"), find).run(shell));
    EXPECT_TRUE(RunCommand::Parse(QStringLiteral("https://a.example"), find).run(shell));
    ASSERT_EQ(shell.started.size(), 1);
    EXPECT_EQ(shell.started[0].arguments, QStringList{QStringLiteral("x")});
    EXPECT_EQ(shell.opened, QStringList{QStringLiteral("https://a.example")});
    EXPECT_FALSE(RunCommand{}.run(shell));
}

TEST(RunCommand, CommandLinesSplitOnBlanksOutsideQuotes) {
    EXPECT_EQ(SplitCommandLine(QStringLiteral("a  \"b c\" \"d\"\"e\" \"\"")),
              (QStringList{QStringLiteral("a"), QStringLiteral("b c"), QStringLiteral("d\"e"),
                           QString()}));
    EXPECT_TRUE(SplitCommandLine(QStringLiteral("   ")).isEmpty());
}
