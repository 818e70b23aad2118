#include "platform/RegFile.h"

#include <optional>

namespace tarvina::platform {

namespace {

QByteArray EscapeText(const QString& s) {
    QByteArray out;
    const QByteArray utf8 = s.toUtf8();
    out.reserve(utf8.size() + 2);
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QByteArray HexDigits(quint32 v) {
    return QByteArray::number(v, 16).rightJustified(8, '0');
}

// Reads a quoted string starting at text[pos] == '"'; on success pos is left
// after the closing quote.
std::optional<QString> ReadQuoted(QByteArrayView line, qsizetype& pos) {
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    QByteArray out;
    for (qsizetype i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return QString::fromUtf8(out);
        }
        if (c == '\\') {
            if (++i >= line.size())
                return std::nullopt;
            const char e = line[i];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<QByteArray> ParseHexList(QByteArrayView s) {
    QByteArray out;
    const QByteArray trimmed = s.toByteArray().trimmed();
    if (trimmed.isEmpty())
        return out;
    for (const QByteArray& item : trimmed.split(',')) {
        const QByteArray t = item.trimmed();
        if (t.size() != 2 || HexValue(t[0]) < 0 || HexValue(t[1]) < 0)
            return std::nullopt;
        out += char(HexValue(t[0]) * 16 + HexValue(t[1]));
    }
    return out;
}

std::optional<qint32> ParseDword(QByteArrayView s) {
    const QByteArray t = s.toByteArray().trimmed();
    if (t.isEmpty() || t.size() > 8)
        return std::nullopt;
    quint32 v = 0;
    for (const char c : t) {
        const int h = HexValue(c);
        if (h < 0)
            return std::nullopt;
        v = v * 16 + quint32(h);
    }
    return qint32(v);
}

std::optional<Root> ParseRootName(QByteArrayView name) {
    const QByteArray upper = name.toByteArray().toUpper();
    if (upper == "HKEY_CURRENT_USER" || upper == "HKCU")
        return Root::CurrentUser;
    if (upper == "HKEY_LOCAL_MACHINE" || upper == "HKLM")
        return Root::LocalMachine;
    return std::nullopt;
}

} // namespace

QByteArray RootName(Root root) {
    return root == Root::CurrentUser ? QByteArrayLiteral("HKEY_CURRENT_USER")
                                     : QByteArrayLiteral("HKEY_LOCAL_MACHINE");
}

QByteArray SerializeRegFile(const RegistryTree& tree, Root root) {
    QByteArray out("REGEDIT4\n\n");
    for (const RegKey& key : tree.keys()) {
        out += '[' + RootName(root);
        if (!key.path.isEmpty())
            out += '\\' + key.path.toUtf8();
        out += "]\n";
        for (const RegValue& v : key.values) {
            if (v.name.isEmpty())
                out += '@';
            else
                out += '"' + EscapeText(v.name) + '"';
            out += '=';
            switch (v.kind) {
            case ValueKind::Text:
                out += '"' + EscapeText(v.text) + '"';
                break;
            case ValueKind::Integer:
                out += "dword:" + HexDigits(quint32(v.integer));
                break;
            case ValueKind::Binary:
                out += "hex:" + v.bytes.toHex(',');
                break;
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

RegParseResult ParseRegFile(QByteArrayView text, Root root) {
    RegParseResult result;
    auto report = [&](qsizetype lineNo, const QString& why) {
        ++result.skippedLines;
        if (result.problems.size() < kMaxReportedProblems)
            result.problems.append(QStringLiteral("line %1: %2").arg(lineNo).arg(why));
    };
    if (text.size() > kMaxRegFileSize) {
        report(
            0,
            QStringLiteral("file larger than %1 bytes; the rest is ignored").arg(kMaxRegFileSize));
        text = text.first(kMaxRegFileSize);
    }
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);

    bool sawHeader = false;
    std::optional<QString> currentKey; // nullopt: values here have nowhere to go
    qsizetype pos = 0;
    qsizetype lineNo = 0;

    auto nextLine = [&](QByteArrayView& line) -> bool {
        if (pos >= text.size())
            return false;
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        line = text.sliced(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    };

    qsizetype entries = 0;
    QByteArrayView raw;
    while (nextLine(raw)) {
        if (raw.size() > kMaxRegLineLength) {
            report(lineNo, QStringLiteral("line too long"));
            continue;
        }
        QByteArray line = raw.toByteArray().trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (!sawHeader) {
            sawHeader = true;
            if (line == "REGEDIT4" || line.startsWith("Windows Registry Editor"))
                continue;
            report(lineNo, QStringLiteral("missing REGEDIT4 header"));
        }
        if (entries >= kMaxRegEntries) {
            report(lineNo, QStringLiteral("too many keys and values"));
            continue;
        }
        if (line.startsWith('[')) {
            currentKey.reset();
            const qsizetype close = line.lastIndexOf(']');
            if (close < 0) {
                report(lineNo, QStringLiteral("section without ']'"));
                continue;
            }
            const QByteArray inner = line.mid(1, close - 1);
            if (inner.startsWith('-')) {
                report(lineNo, QStringLiteral("key deletion is not supported"));
                continue;
            }
            const qsizetype slash = inner.indexOf('\\');
            const QByteArray rootPart = slash < 0 ? inner : inner.left(slash);
            const std::optional<Root> r = ParseRootName(rootPart);
            if (!r || *r != root) {
                report(lineNo, QStringLiteral("section of another root"));
                continue;
            }
            const std::optional<QString> key = RegistryTree::NormalizeKey(
                slash < 0 ? QString() : QString::fromUtf8(inner.mid(slash + 1)));
            if (!key) {
                report(lineNo, QStringLiteral("key name too long or invalid"));
                continue;
            }
            entries += key->count(u'\\') + 1;
            result.tree.ensureKey(*key);
            currentKey = *key;
            continue;
        }

        // A value line, maybe continued by a trailing backslash.
        qsizetype startLine = lineNo;
        bool tooLong = false;
        while (line.endsWith('\\') && pos < text.size()) {
            QByteArrayView more;
            if (!nextLine(more))
                break;
            line.chop(1);
            if (line.size() + more.size() > kMaxRegLineLength) {
                tooLong = true;
                continue; // keep consuming the continuation, then drop it
            }
            line += more.toByteArray().trimmed();
        }
        if (tooLong) {
            report(startLine, QStringLiteral("line too long"));
            continue;
        }
        if (!currentKey) {
            report(startLine, QStringLiteral("value outside a usable section"));
            continue;
        }
        QString name;
        qsizetype p = 0;
        if (line.startsWith('@')) {
            p = 1;
        } else {
            const std::optional<QString> n = ReadQuoted(line, p);
            if (!n) {
                report(startLine, QStringLiteral("bad value name"));
                continue;
            }
            name = *n;
        }
        if (name.size() > RegistryTree::kMaxValueNameLength) {
            report(startLine, QStringLiteral("value name too long"));
            continue;
        }
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
            ++p;
        if (p >= line.size() || line[p] != '=') {
            report(startLine, QStringLiteral("missing '='"));
            continue;
        }
        ++p;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
            ++p;
        const QByteArrayView data = QByteArrayView(line).sliced(p);
        RegValue v;
        v.name = name;
        if (data.startsWith('"')) {
            qsizetype q = 0;
            const std::optional<QString> s = ReadQuoted(data, q);
            if (!s || !data.sliced(q).trimmed().isEmpty()) {
                report(startLine, QStringLiteral("bad text value"));
                continue;
            }
            v.kind = ValueKind::Text;
            v.text = *s;
        } else if (data.startsWith("dword:")) {
            const std::optional<qint32> d = ParseDword(data.sliced(6));
            if (!d) {
                report(startLine, QStringLiteral("bad dword value"));
                continue;
            }
            v.kind = ValueKind::Integer;
            v.integer = *d;
        } else if (data.startsWith("hex:")) {
            const std::optional<QByteArray> b = ParseHexList(data.sliced(4));
            if (!b) {
                report(startLine, QStringLiteral("bad hex value"));
                continue;
            }
            v.kind = ValueKind::Binary;
            v.bytes = *b;
        } else {
            report(startLine, QStringLiteral("unsupported value kind"));
            continue;
        }
        ++entries;
        result.tree.setValue(*currentKey, std::move(v));
    }
    return result;
}

} // namespace tarvina::platform
