#include "server/central/Outbox.h"

#include "xbase/Error.h"
#include "xbase/File.h"

#include <QDataStream>
#include <QIODevice>
#include <array>
#include <stdexcept>

namespace tarvina::server::central {

namespace {

constexpr std::uint8_t kRow = 1, kAck = 2, kAbandon = 3;
// Anything longer is damage, not a row: the longest row is a few hundred
// bytes.
constexpr std::uint32_t kMaxBody = 1 << 20;
// The file is rewritten with only what is pending once it grows beyond this.
constexpr std::uint64_t kCompactAbove = 8u << 20;

QByteArray Encode(std::uint8_t kind, std::uint64_t seq, const CentralRow* row) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint8(kind) << quint64(seq);
    if (row) {
        out << quint8(row->table) << qint64(row->localId) << quint8(row->deleted ? 1 : 0)
            << quint32(row->recno);
        const QByteArray path = row->path.toUtf8().left(4096);
        out << quint16(path.size());
        out.writeRawData(path.constData(), int(path.size()));
        out << quint16(row->values.size());
        for (const auto& v : row->values) {
            const QByteArray b = v ? v->toUtf8() : QByteArray();
            out << quint8(v ? 0 : 1) << quint32(b.size());
            out.writeRawData(b.constData(), int(b.size()));
        }
    }
    return body;
}

struct Decoded {
    std::uint8_t kind = 0;
    std::uint64_t seq = 0;
    CentralRow row;
};

bool Decode(const QByteArray& body, Decoded& d) {
    QDataStream in(body);
    in.setByteOrder(QDataStream::LittleEndian);
    quint8 kind = 0;
    quint64 seq = 0;
    in >> kind >> seq;
    d.kind = kind;
    d.seq = seq;
    if (kind == kRow) {
        quint8 table = 0, deleted = 0;
        qint64 id = 0;
        quint32 recno = 0;
        quint16 pathLen = 0, values = 0;
        in >> table >> id >> deleted >> recno >> pathLen;
        if (in.status() != QDataStream::Ok || table < 1 || table > 4)
            return false;
        QByteArray path(pathLen, '\0');
        if (in.readRawData(path.data(), pathLen) != pathLen)
            return false;
        in >> values;
        d.row.seq = seq;
        d.row.table = CentralTable(table);
        d.row.localId = id;
        d.row.deleted = deleted != 0;
        d.row.recno = recno;
        d.row.path = QString::fromUtf8(path);
        for (quint16 i = 0; i < values; ++i) {
            quint8 null = 0;
            quint32 n = 0;
            in >> null >> n;
            if (in.status() != QDataStream::Ok || n > quint32(body.size()))
                return false;
            QByteArray b(qsizetype(n), '\0');
            if (in.readRawData(b.data(), int(n)) != int(n))
                return false;
            d.row.values.push_back(null ? std::nullopt
                                        : std::optional<QString>(QString::fromUtf8(b)));
        }
    } else if (kind != kAck && kind != kAbandon) {
        return false;
    }
    return in.status() == QDataStream::Ok && in.atEnd();
}

void PutU32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
std::uint32_t GetU32(const char* p) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(std::uint8_t(p[i])) << (8 * i);
    return v;
}

} // namespace

std::uint32_t Crc32(const char* data, std::size_t n) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
        c = table[(c ^ std::uint8_t(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

Outbox::Outbox(xbase::IFileSystem& fs) : fs_(fs) {}
Outbox::~Outbox() = default;

bool Outbox::isOpen() const {
    std::lock_guard lock(mu_);
    return file_ != nullptr;
}

void Outbox::setOnRelease(std::function<void()> f) {
    std::lock_guard lock(mu_);
    onRelease_ = std::move(f);
}

void Outbox::open(const QString& path, const RowCheck& check) {
    std::lock_guard lock(mu_);
    try {
        path_ = path.toStdString();
        file_ = fs_.Exists(path_) ? fs_.Open(path_, true) : fs_.Create(path_);
        const std::uint64_t size = file_->Size();
        std::uint64_t at = 0;
        std::deque<CentralRow> rows;
        std::uint64_t acked = 0, lastSeq = 0;
        std::vector<std::uint64_t> abandoned;
        std::string head(8, '\0');
        while (at + 8 <= size) {
            if (file_->ReadAt(at, head.data(), 8) != 8)
                break;
            const std::uint32_t len = GetU32(head.data()), crc = GetU32(head.data() + 4);
            if (len == 0 || len > kMaxBody || at + 8 + len > size)
                break;
            QByteArray body(qsizetype(len), '\0');
            if (file_->ReadAt(at + 8, body.data(), len) != len ||
                Crc32(body.constData(), len) != crc)
                break;
            Decoded d;
            if (!Decode(body, d))
                break;
            at += 8 + len;
            lastSeq = std::max(lastSeq, d.seq);
            if (d.kind == kRow)
                rows.push_back(std::move(d.row));
            else if (d.kind == kAck)
                acked = std::max(acked, d.seq);
            else
                abandoned.push_back(d.seq);
        }
        // A torn tail goes, so that new records do not follow garbage.
        if (at < size)
            file_->Truncate(at);
        end_ = at;
        nextSeq_ = lastSeq + 1;
        released_.clear();
        staged_.clear();
        for (auto& r : rows) {
            if (r.seq <= acked ||
                std::find(abandoned.begin(), abandoned.end(), r.seq) != abandoned.end())
                continue;
            released_.push_back(std::move(r));
        }
        // Only the last row can have been staged without its record written.
        if (!released_.empty() && released_.back().seq == lastSeq && check &&
            !check(released_.back())) {
            appendRecord(Encode(kAbandon, lastSeq, nullptr), true);
            released_.pop_back();
        }
    } catch (const xbase::XBaseError& e) {
        file_.reset();
        throw std::runtime_error("Falla al abrir la cola de la copia central " + path_ + ": " +
                                 e.what());
    }
}

void Outbox::appendRecord(const QByteArray& body, bool flush) {
    QByteArray rec(8, '\0');
    PutU32(rec.data(), std::uint32_t(body.size()));
    PutU32(rec.data() + 4, Crc32(body.constData(), std::size_t(body.size())));
    rec += body;
    file_->WriteAt(end_, rec.constData(), std::size_t(rec.size()));
    end_ += std::uint64_t(rec.size());
    if (flush)
        file_->Sync();
}

std::uint64_t Outbox::stage(CentralRow row) {
    std::lock_guard lock(mu_);
    if (!file_)
        throw std::runtime_error("la cola de la copia central no está abierta");
    row.seq = nextSeq_;
    const std::uint64_t before = end_;
    try {
        appendRecord(Encode(kRow, row.seq, &row), true);
    } catch (...) {
        // What reached the file is cut off again; if even that fails, the
        // next open finds it torn or whole, and checks it as the last row.
        end_ = before;
        try {
            file_->Truncate(before);
        } catch (...) {
        }
        throw;
    }
    ++nextSeq_;
    staged_.push_back(std::move(row));
    return nextSeq_ - 1;
}

void Outbox::release(std::uint64_t seq, bool written) {
    std::function<void()> notify;
    {
        std::lock_guard lock(mu_);
        auto it = std::find_if(staged_.begin(), staged_.end(),
                               [&](const CentralRow& r) { return r.seq == seq; });
        if (it == staged_.end())
            return;
        if (written) {
            released_.push_back(std::move(*it));
            notify = onRelease_;
        } else {
            try {
                appendRecord(Encode(kAbandon, seq, nullptr), true);
            } catch (...) {
                // Left in doubt: the next open checks the last row against
                // its table.
            }
        }
        staged_.erase(it);
    }
    if (notify)
        notify();
}

std::vector<CentralRow> Outbox::peek(std::size_t max) const {
    std::lock_guard lock(mu_);
    std::vector<CentralRow> out;
    for (std::size_t i = 0; i < released_.size() && i < max; ++i)
        out.push_back(released_[i]);
    return out;
}

std::size_t Outbox::pending() const {
    std::lock_guard lock(mu_);
    return released_.size();
}

void Outbox::acknowledge(std::uint64_t seq) {
    std::lock_guard lock(mu_);
    if (!file_)
        return;
    while (!released_.empty() && released_.front().seq <= seq)
        released_.pop_front();
    // Not flushed: an acknowledgement lost to a power cut only sends the
    // rows again, and the central side takes them again as the same rows.
    appendRecord(Encode(kAck, seq, nullptr), false);
    if (end_ > kCompactAbove && staged_.empty())
        compactLocked();
}

void Outbox::compactLocked() {
    // The pending rows and the last seq, into a new file that replaces the
    // old one whole.
    const std::string tmp = path_ + ".new";
    std::unique_ptr<xbase::IFile> old = std::move(file_);
    const std::uint64_t oldEnd = end_;
    try {
        file_ = fs_.Create(tmp);
        end_ = 0;
        // Everything before the first pending row is done; with none
        // pending the ack alone carries the last seq on.
        const std::uint64_t done = released_.empty() ? nextSeq_ - 1 : released_.front().seq - 1;
        appendRecord(Encode(kAck, done, nullptr), false);
        for (const CentralRow& r : released_)
            appendRecord(Encode(kRow, r.seq, &r), false);
        file_->Sync();
        file_.reset();
        fs_.Rename(tmp, path_);
        file_ = fs_.Open(path_, true);
    } catch (...) {
        file_ = std::move(old);
        end_ = oldEnd;
    }
}

} // namespace tarvina::server::central
