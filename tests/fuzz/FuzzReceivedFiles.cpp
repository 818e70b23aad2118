// Files and configuration items the cashier sends a station (lock picture,
// alarm sound, wallpaper and its style, banners and their delays, the task
// bar, the hidden drives), each as the receive thread hands it to the
// station's machine control: its code, its line and the block that came
// after it. The station is whole, on fakes. Whatever the names and bytes, a
// file lands in the program folder and nowhere else, the lock's picture and
// the banners are files there, and nothing crashes.
//
// Input: items, each a code byte (taken modulo the list below), a line up to
// the first LF, a 2-byte little-endian block length and the block.

#include "client/ClientFakes.h"
#include "client/control/StationControl.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/FakeDisplayModes.h"
#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeScreenGrabber.h"
#include "protocol/Codes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>

using namespace tarvina;
using namespace tarvina::client;
namespace tc = tarvina::protocol::tc;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

constexpr int kCodes[] = {tc::SendBackground,    tc::SendAlarmSound, tc::SendWallpaper,
                          tc::SetWallpaperStyle, tc::SetAutoStart,   tc::SetTaskBarHidden,
                          tc::SetLogoProtect,    tc::SetDiskState,   tc::SendBanner,
                          tc::SetBannerDelay,    tc::DeleteBanner,   tc::CloseTask};
constexpr int kMaxItems = 16;

struct ControlledStation {
    client::test::Station st;
    platform::FakeAutostart autostart;
    platform::FakeScreenGrabber grabber;
    platform::FakeDisplayModes modes;
    platform::FakeProcesses processes;
    QString folder = st.home.file(QStringLiteral("puesto"));
    StationControl control{{st.registry, st.windows, processes, st.desktop, autostart, grabber,
                            modes, st.own, folder,
                            QDir(folder).filePath(QStringLiteral("puesto"))}};
    ~ControlledStation() { st.core.reset(); }
    ControlledStation() {
        QDir().mkpath(folder);
        ClientEnvironment e = st.env();
        e.programFolder = folder;
        e.currentDir = folder;
        e.exeName = QDir(folder).filePath(QStringLiteral("puesto"));
        st.make(e, &control);
        st.start(false);
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ControlledStation cs;
    qsizetype at = 0;
    for (int items = 0; items < kMaxItems && at < in.size(); ++items) {
        const int code = kCodes[static_cast<unsigned char>(in[at++]) % std::size(kCodes)];
        qsizetype end = in.indexOf('\n', at);
        if (end < 0)
            end = in.size();
        const QByteArray payload = in.mid(at, end - at);
        at = end + 1;
        qsizetype length = 0;
        if (at + 2 <= in.size())
            length = static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1])
                                                              << 8;
        at += 2;
        const QByteArray block = at < in.size() ? in.mid(at, length) : QByteArray();
        at += length;
        cs.control.onCommand(code, payload, block, [](const QByteArray&) { return true; });
        client::test::Station::drain();
    }
    // Nothing was written beside the program folder.
    const QStringList outside =
        QDir(cs.st.home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    Check(outside == QStringList{QStringLiteral("puesto")});
    // The lock's picture and the banners are files of the folder.
    const QString lock = cs.st.core->display().lockPicture;
    Check(lock.isEmpty() ||
          QFileInfo(lock).absolutePath() == QFileInfo(cs.folder).absoluteFilePath());
    for (const auto& b : cs.control.banners())
        Check(b.file.isEmpty() ||
              QFileInfo(b.file).absolutePath() == QFileInfo(cs.folder).absoluteFilePath());
    return 0;
}
