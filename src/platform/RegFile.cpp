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

// The file's lines, numbered from 1, without their line ends.
class Lines {
public:
    explicit Lines(QByteArrayView text) : text_(text) {}

    bool next(QByteArrayView& line) {
        if (atEnd())
            return false;
        qsizetype end = text_.indexOf('\n', pos_);
        if (end < 0)
            end = text_.size();
        line = text_.sliced(pos_, end - pos_);
        pos_ = end + 1;
        ++number_;
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    qsizetype number() const { return number_; }

private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
    qsizetype number_ = 0;
};

// A section line ("[HKEY_CURRENT_USER\Software\Velt]"): its key, normalized;
// nullopt, with why, for a section whose values have nowhere to go.
std::optional<QString> ParseSection(const QByteArray& line, Root root, QString& why) {
    const qsizetype close = line.lastIndexOf(']');
    if (close < 0) {
        why = QStringLiteral("section without ']'");
        return std::nullopt;
    }
    const QByteArray inner = line.mid(1, close - 1);
    if (inner.startsWith('-')) {
        why = QStringLiteral("key deletion is not supported");
        return std::nullopt;
    }
    const qsizetype slash = inner.indexOf('\\');
    const QByteArray rootPart = slash < 0 ? inner : inner.left(slash);
    const std::optional<Root> r = ParseRootName(rootPart);
    if (!r || *r != root) {
        why = QStringLiteral("section of another root");
        return std::nullopt;
    }
    std::optional<QString> key =
        RegistryTree::NormalizeKey(slash < 0 ? QString() : QString::fromUtf8(inner.mid(slash + 1)));
    if (!key)
        why = QStringLiteral("key name too long or invalid");
    return key;
}

// Appends the lines a trailing backslash continues. False when the whole
// would be too long: the continuation is consumed all the same.
bool JoinContinued(QByteArray& line, Lines& lines) {
    bool tooLong = false;
    while (line.endsWith('\\') && !lines.atEnd()) {
        QByteArrayView more;
        if (!lines.next(more))
            break;
        line.chop(1);
        if (line.size() + more.size() > kMaxRegLineLength) {
            tooLong = true;
            continue;
        }
        line += more.toByteArray().trimmed();
    }
    return !tooLong;
}

// What follows '=': a quoted text, "dword:" and eight hex digits at most, or
// "hex:" and a list of bytes.
bool ParseData(QByteArrayView data, RegValue& v, QString& why) {
    if (data.startsWith('"')) {
        qsizetype q = 0;
        const std::optional<QString> s = ReadQuoted(data, q);
        if (!s || !data.sliced(q).trimmed().isEmpty()) {
            why = QStringLiteral("bad text value");
            return false;
        }
        v.kind = ValueKind::Text;
        v.text = *s;
    } else if (data.startsWith("dword:")) {
        const std::optional<qint32> d = ParseDword(data.sliced(6));
        if (!d) {
            why = QStringLiteral("bad dword value");
            return false;
        }
        v.kind = ValueKind::Integer;
        v.integer = *d;
    } else if (data.startsWith("hex:")) {
        const std::optional<QByteArray> b = ParseHexList(data.sliced(4));
        if (!b) {
            why = QStringLiteral("bad hex value");
            return false;
        }
        v.kind = ValueKind::Binary;
        v.bytes = *b;
    } else {
        why = QStringLiteral("unsupported value kind");
        return false;
    }
    return true;
}

qsizetype SkipBlanks(QByteArrayView line, qsizetype p) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t'))
        ++p;
    return p;
}

// A value line: '@' (the key's default value) or a quoted name, '=' and the
// data; nullopt, with why, when it cannot be read.
std::optional<RegValue> ParseValue(const QByteArray& line, QString& why) {
    RegValue v;
    qsizetype p = 0;
    if (line.startsWith('@')) {
        p = 1;
    } else {
        const std::optional<QString> n = ReadQuoted(line, p);
        if (!n) {
            why = QStringLiteral("bad value name");
            return std::nullopt;
        }
        v.name = *n;
    }
    if (v.name.size() > RegistryTree::kMaxValueNameLength) {
        why = QStringLiteral("value name too long");
        return std::nullopt;
    }
    p = SkipBlanks(line, p);
    if (p >= line.size() || line[p] != '=') {
        why = QStringLiteral("missing '='");
        return std::nullopt;
    }
    p = SkipBlanks(line, p + 1);
    if (!ParseData(QByteArrayView(line).sliced(p), v, why))
        return std::nullopt;
    return v;
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
    qsizetype entries = 0;
    Lines lines(text);
    QByteArrayView raw;
    QString why;
    while (lines.next(raw)) {
        const qsizetype lineNo = lines.number();
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
            currentKey = ParseSection(line, root, why);
            if (!currentKey) {
                report(lineNo, why);
                continue;
            }
            entries += currentKey->count(u'\\') + 1;
            result.tree.ensureKey(*currentKey);
            continue;
        }
        if (!JoinContinued(line, lines)) {
            report(lineNo, QStringLiteral("line too long"));
            continue;
        }
        if (!currentKey) {
            report(lineNo, QStringLiteral("value outside a usable section"));
            continue;
        }
        std::optional<RegValue> v = ParseValue(line, why);
        if (!v) {
            report(lineNo, why);
            continue;
        }
        ++entries;
        result.tree.setValue(*currentKey, std::move(*v));
    }
    return result;
}

} // namespace tarvina::platform
