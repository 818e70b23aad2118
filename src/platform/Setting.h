#pragma once

#include "platform/Registry.h"

#include <QAnyStringView>
#include <QtEndian>
#include <cstddef>
#include <optional>

namespace tarvina::platform {

// A key of the store: its root and its path.
struct SettingKey {
    Root root;
    QAnyStringView path;

    QString text() const { return path.toString(); }
};

// The forms a stored value takes: the type the program works with, the type
// its default is declared in (a literal, so that declarations are constant
// and need no start-up order), and how it is read and written. A read gives
// nullopt for a value of another kind and for a missing one, except that the
// store gives a missing text as empty.
namespace form {

struct Text {
    using Value = QString;
    using Default = QAnyStringView;
    static QString Make(Default d) { return d.toString(); }
    static std::optional<QString> Read(const Registry& r, Root root, const QString& key,
                                       const QString& name) {
        return r.readString(root, key, name);
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name,
                      const QString& v) {
        return r.writeString(root, key, name, v);
    }
};

struct Integer {
    using Value = qint32;
    using Default = qint32;
    static qint32 Make(Default d) { return d; }
    static std::optional<qint32> Read(const Registry& r, Root root, const QString& key,
                                      const QString& name) {
        return r.readInteger(root, key, name);
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name, qint32 v) {
        return r.writeInteger(root, key, name, v);
    }
};

// A yes/no kept as an integer: written 1 or 0, any non-zero reads as yes.
struct Flag {
    using Value = bool;
    using Default = bool;
    static bool Make(Default d) { return d; }
    static std::optional<bool> Read(const Registry& r, Root root, const QString& key,
                                    const QString& name) {
        const auto v = r.readInteger(root, key, name);
        return v ? std::optional<bool>(*v != 0) : std::nullopt;
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name, bool v) {
        return r.writeInteger(root, key, name, v ? 1 : 0);
    }
};

// Raw bytes as stored.
struct Raw {
    using Value = QByteArray;
    using Default = std::nullptr_t;
    static QByteArray Make(Default) { return {}; }
    static std::optional<QByteArray> Read(const Registry& r, Root root, const QString& key,
                                          const QString& name) {
        return r.readBinary(root, key, name);
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name,
                      const QByteArray& v) {
        return r.writeBinary(root, key, name, v);
    }
};

// A moment in days since 1899-12-30 (see EncodeDateTimeValue).
struct Date {
    using Value = double;
    using Default = double;
    static double Make(Default d) { return d; }
    static std::optional<double> Read(const Registry& r, Root root, const QString& key,
                                      const QString& name) {
        const auto raw = r.readBinary(root, key, name);
        return raw ? DecodeDateTimeValue(*raw) : std::nullopt;
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name, double v) {
        return r.writeBinary(root, key, name, EncodeDateTimeValue(v));
    }
};

// A whole number kept as a text ("2"); a text that is no number reads as
// nullopt.
struct NumberText {
    using Value = int;
    using Default = int;
    static int Make(Default d) { return d; }
    static std::optional<int> Read(const Registry& r, Root root, const QString& key,
                                   const QString& name) {
        const auto text = r.readString(root, key, name);
        bool ok = false;
        const int v = text ? text->trimmed().toInt(&ok) : 0;
        return ok ? std::optional<int>(v) : std::nullopt;
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name, int v) {
        return r.writeString(root, key, name, QString::number(v));
    }
};

// A bit mask written as 4 raw bytes, low byte first. A shorter raw value
// gives the bytes it has; an integer value is read too.
struct RawMask {
    using Value = quint32;
    using Default = quint32;
    static quint32 Make(Default d) { return d; }
    static std::optional<quint32> Read(const Registry& r, Root root, const QString& key,
                                       const QString& name) {
        if (const auto raw = r.readBinary(root, key, name)) {
            quint32 mask = 0;
            for (qsizetype i = 0; i < qMin<qsizetype>(raw->size(), 4); ++i)
                mask |= quint32(quint8(raw->at(i))) << (8 * i);
            return mask;
        }
        if (const auto integer = r.readInteger(root, key, name))
            return static_cast<quint32>(*integer);
        return std::nullopt;
    }
    static bool Write(Registry& r, Root root, const QString& key, const QString& name, quint32 v) {
        QByteArray raw(4, '\0');
        qToLittleEndian(v, raw.data());
        return r.writeBinary(root, key, name, raw);
    }
};

} // namespace form

// A stored value where it is actually kept: a copy under another key, or the
// value of one owner among many (its name prefixed with the owner's).
template <typename Form> class PlacedSetting {
public:
    using Value = typename Form::Value;

    PlacedSetting(Root root, QString key, QString name, Value fallback)
        : root_(root), key_(std::move(key)), name_(std::move(name)),
          fallback_(std::move(fallback)) {}

    const QString& name() const { return name_; }
    const QString& key() const { return key_; }
    Root root() const { return root_; }
    const Value& fallback() const { return fallback_; }

    std::optional<Value> read(const Registry& r) const { return Form::Read(r, root_, key_, name_); }
    // The value read, or the default when it cannot be.
    Value value(const Registry& r) const { return read(r).value_or(fallback_); }
    bool write(Registry& r, const Value& v) const { return Form::Write(r, root_, key_, name_, v); }
    // The same value read or written in another of the forms it takes.
    template <typename Other> std::optional<typename Other::Value> readAs(const Registry& r) const {
        return Other::Read(r, root_, key_, name_);
    }
    template <typename Other> bool writeAs(Registry& r, const typename Other::Value& v) const {
        return Other::Write(r, root_, key_, name_, v);
    }
    bool exists(const Registry& r) const { return r.valueExists(root_, key_, name_); }

private:
    Root root_;
    QString key_;
    QString name_;
    Value fallback_;
};

// One stored value: its key, its name exactly as stored, its form and its
// default. Each is declared once, as a constant, and every reader and writer
// of the value goes through its declaration.
template <typename Form> class SettingValue {
public:
    using Value = typename Form::Value;

    constexpr SettingValue(SettingKey key, QAnyStringView name,
                           typename Form::Default fallback = {})
        : key_(key), name_(name), default_(fallback) {}

    constexpr const SettingKey& key() const { return key_; }
    QString name() const { return name_.toString(); }
    Value fallback() const { return Form::Make(default_); }

    std::optional<Value> read(const Registry& r) const { return here().read(r); }
    Value value(const Registry& r) const { return here().value(r); }
    bool write(Registry& r, const Value& v) const { return here().write(r, v); }
    template <typename Other> std::optional<typename Other::Value> readAs(const Registry& r) const {
        return here().template readAs<Other>(r);
    }
    template <typename Other> bool writeAs(Registry& r, const typename Other::Value& v) const {
        return here().template writeAs<Other>(r, v);
    }
    bool exists(const Registry& r) const { return here().exists(r); }

    // The same value kept under another key.
    PlacedSetting<Form> in(Root root, const QString& key) const {
        return {root, key, name(), fallback()};
    }
    // The value of one owner: its name is the owner's followed by this one's
    // ("frmZUCaja" + ".Left").
    PlacedSetting<Form> of(const QString& owner) const {
        return {key_.root, key_.text(), owner + name(), fallback()};
    }

private:
    PlacedSetting<Form> here() const { return {key_.root, key_.text(), name(), fallback()}; }

    SettingKey key_;
    QAnyStringView name_;
    typename Form::Default default_;
};

} // namespace tarvina::platform
