// Figures of the codes page: a batch of 1000 codes (table rows, index, day's
// list) and the page shown over a table of 1 000 000 codes, then scrolled,
// with the memory the process holds before and after, which shows that the
// grid reads only the rows it shows.
//
// pages-bench [folder] [codes]

#include "platform/Clock.h"
#include "server/pin/CodeGenerator.h"
#include "server/pin/CodesPage.h"
#include "server/pin/HtmlListFile.h"
#include "server/pin/TableOps.h"
#include "server/ui/pages/PinFrame.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

double Ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

double ResidentMegabytes() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * 4096.0 / 1048576.0 : 0;
}

std::string Path(const QString& p) {
    return QFile::encodeName(p).toStdString();
}

// The program's own code table, with its fields and tags, holding n codes
// made in creation order; the rows are written before the tags are built,
// as a load of old data would be.
void BuildCodeTable(const QString& folder, std::uint32_t n) {
    TableOps::CreateCodeTable(xbase::RealFileSystem(), folder);
    const QString dbf = folder + QStringLiteral("/CajaPIN.dbf");
    std::vector<xbase::FieldDef> fields;
    std::vector<xbase::TagInfo> tags;
    {
        xbase::TableEngine probe(xbase::RealFileSystem());
        probe.Open(Path(dbf), true);
        fields = probe.Fields();
        tags = probe.Tags();
    }
    QFile::remove(dbf);
    QFile::remove(folder + QStringLiteral("/CajaPIN.cdx"));
    xbase::TableEngine t(xbase::RealFileSystem());
    t.CreateNew(Path(dbf), xbase::kTableTypeFoxPro, int(fields.size()));
    for (const auto& f : fields) {
        t.CreateField(f.name, std::string(1, f.type), f.width, f.decimals);
    }
    t.CreateExec();
    t.Open(Path(dbf), true);
    for (std::uint32_t i = 0; i < n; ++i) {
        char pin[8], hora[12];
        std::snprintf(pin, sizeof pin, "%06X", ((i * 2654435761u) & 0xFFFFFFu) % 0xFFFC17u + 1000);
        const std::uint32_t s = i / 4; // four codes a second
        std::snprintf(hora, sizeof hora, "%02u:%02u:%02u", (s / 3600) % 24, (s / 60) % 60, s % 60);
        t.Append();
        t.SetString("PIN", pin);
        t.SetInteger("SALDO", 30);
        const int day = int(s / 86400);
        t.SetDate("FECHA", xbase::Date{2020 + day / 336, 1 + (day / 28) % 12, 1 + day % 28});
        t.SetString("HORA", hora);
        if (i % 97 == 0) {
            t.SetDate("CFECHA", xbase::Date{2026, 1, 2});
            t.SetString("CHORA", "10:00:00");
            t.SetString("MAC", "00-1A-2B-3C-4D-5E");
        }
        t.Post();
    }
    t.Commit();
    for (const auto& tag : tags) {
        t.IndexTag("", tag.name, tag.keyExpr, 0, false, tag.forExpr);
    }
    t.Close();
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const std::uint32_t big =
        argc > 2 ? std::uint32_t(std::strtoul(argv[2], nullptr, 10)) : 1000000;
    platform::RealClock clock;

    // 1. A batch of 1000 codes: rows, index, day's list.
    {
        const QString data = folder + QStringLiteral("/batch");
        QDir().mkpath(data);
        TableOps::CreateCodeTable(xbase::RealFileSystem(), data);
        HtmlListFile list(xbase::RealFileSystem());
        list.OpenHtmlList(data + QStringLiteral("/pin/list.html"),
                          CodeListHeaderLines(clock.now()));
        SeededCodeRandom random(12345);
        CodesPage page(xbase::RealFileSystem(), clock, list, random, {});
        page.openTable(data + QStringLiteral("/CajaPIN.dbf"));
        QElapsedTimer t;
        t.start();
        const QStringList made = page.CreateCodes(999, QStringLiteral("30"), false);
        page.CreateCodes(1, QStringLiteral("30"), false);
        const double ms = Ms(t);
        std::printf("batch of %lld codes (rows, index, list): %.0f ms (target < 2000 ms: %s)\n",
                    made.size() + 1LL, ms, ms < 2000 ? "met" : "MISSED");
    }

    // 2. The codes page over a large table.
    const QString data = folder + QStringLiteral("/big");
    QDir().mkpath(data);
    QElapsedTimer build;
    build.start();
    BuildCodeTable(data, big);
    std::printf("table of %u codes built in %.1f s (not part of the figures)\n", big,
                Ms(build) / 1000);

    HtmlListFile list(xbase::RealFileSystem());
    list.OpenHtmlList(data + QStringLiteral("/pin/list.html"), CodeListHeaderLines(clock.now()));
    SeededCodeRandom random(99);
    const double before = ResidentMegabytes();
    QElapsedTimer t;
    t.start();
    ui::TPinFrame::Deps deps;
    deps.clock = &clock;
    deps.codeList = &list;
    deps.random = &random;
    deps.inUseColour = [] { return 65280; };
    deps.codeTablePath = data + QStringLiteral("/CajaPIN.dbf");
    ui::TPinFrame frame(xbase::RealFileSystem(), deps);
    frame.resize(900, 700);
    frame.show();
    QApplication::processEvents();
    const double shown = Ms(t);
    std::printf(
        "codes page shown over %u codes: %.1f ms, %d rows on screen (target < 300 ms: %s)\n", big,
        shown, frame.gridModel().rowCount(), shown < 300 ? "met" : "MISSED");

    TableWindow& grid = frame.gridModel();
    t.restart();
    grid.Last();
    QApplication::processEvents();
    std::printf("last page: %.2f ms\n", Ms(t));
    t.restart();
    for (int i = 0; i < 100; ++i) {
        grid.MoveBy(-grid.pageRows());
        QApplication::processEvents();
    }
    std::printf("100 pages up: %.2f ms (%.2f ms a page)\n", Ms(t), Ms(t) / 100);
    t.restart();
    for (int i = 0; i < 1000; ++i) {
        grid.Next();
    }
    QApplication::processEvents();
    std::printf("1000 rows down one by one: %.2f ms\n", Ms(t));
    t.restart();
    grid.jumpTo(0.5);
    QApplication::processEvents();
    std::printf("jump to the middle: %.2f ms (row %s)\n", Ms(t),
                qPrintable(grid.data(grid.index(grid.currentRow(), 0)).toString()));
    t.restart();
    frame.CmbTime->setEditText(QStringLiteral("30"));
    frame.ChkPrint->setChecked(false);
    frame.SECnt->setValue(999);
    frame.BtnCreaPINClick();
    std::printf("batch of 999 codes through the page on the large table: %.0f ms\n", Ms(t));
    const double after = ResidentMegabytes();
    std::printf("resident memory: %.1f MB before the page, %.1f MB after (table file %.0f MB)\n",
                before, after,
                double(QFileInfo(data + QStringLiteral("/CajaPIN.dbf")).size()) / 1048576.0);
    return 0;
}
