// The station's session file as it may be found at start, damaged or
// crafted: a station with every platform piece faked starts on it and runs
// its first seconds. A file it takes resumes a use that ends within the
// bounds of a grant; a file it refuses leaves the station locked. Nothing
// crashes, whatever the bytes.

#include "client/ClientFakes.h"
#include "client/session/SessionFile.h"

#include <QCoreApplication>
#include <cstdlib>

using namespace tarvina;
using namespace tarvina::client;

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const std::optional<SessionRecord> record = DecodeSessionRecord(bytes, &error);
    Check(record.has_value() == error.isEmpty());
    if (record) {
        // What a save writes from the record reads back as the same record.
        const QByteArray again = EncodeSessionRecord(*record);
        const auto back = DecodeSessionRecord(again, nullptr);
        Check(back && EncodeSessionRecord(*back) == again);
    }

    client::test::Station st;
    st.writeFile(QStringLiteral("Data/session.dta"), bytes);
    st.start();
    client::test::Station::drain();
    st.tick(2);
    client::test::Station::drain();
    const Session& s = st.core->session();
    if (!record) {
        Check(s.state() == ClientState::Locked);
        Check(st.core->display().lockVisible);
    }
    if (s.state() == ClientState::InUse) {
        // A use resumed from the file ends within the longest grant (366
        // days) of its start, and not before the clock's now.
        const common::DateTime now = st.clock.now();
        Check(!(s.sessionEnd() < now));
        Check(s.sessionStart().msecsTo(s.sessionEnd()) <= 60000LL * 527040);
    }
    return 0;
}
