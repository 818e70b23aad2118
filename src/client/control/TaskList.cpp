#include "client/control/TaskList.h"

#include "client/station/StationKeys.h"
#include "common/Cp1252.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "protocol/Fields.h"

namespace tarvina::client {

namespace {
// The baseline is read back bounded: it is a list of window titles.
constexpr qsizetype kMaxBaselineText = 64 * 1024;
} // namespace

TaskList::TaskList(platform::WindowSystem& windows, platform::Registry& registry,
                   platform::Processes& processes, std::function<bool(platform::WindowId)> isOwn)
    : windows_(windows), registry_(registry), processes_(processes), isOwn_(std::move(isOwn)) {}

QList<TaskList::Task> TaskList::tasks() {
    QList<Task> out;
    // The desktop's own panels and the window that draws its background are
    // not programs a customer opened.
    const platform::WindowId desktop = windows_.desktopWindow();
    const qint64 self = processes_.self();
    for (platform::WindowId w : windows_.visibleTitledWindows()) {
        if ((isOwn_ && isOwn_(w)) || w == desktop || windows_.isTaskBar(w))
            continue;
        // Any window of the station's process is its own, listed or not (a
        // question box, a file chooser).
        const qint64 pid = windows_.windowProcess(w);
        if (pid != 0 && pid == self)
            continue;
        // Line breaks and other control characters would break the line the
        // list travels in; a title keeps its blanks.
        QString title;
        for (QChar c : windows_.windowTitle(w).left(kMaxTitle))
            title += c.unicode() < 0x20 ? QChar(u' ') : c;
        if (!title.trimmed().isEmpty())
            out.append({w, title, pid, pid != 0 ? processes_.executable(pid) : QString()});
    }
    return out;
}

QList<TaskList::Task> TaskList::allTasks() {
    QList<Task> out;
    const QList<platform::WindowId> windows =
        windows_.stackingOrder().value_or(windows_.visibleTitledWindows());
    for (platform::WindowId w : windows) {
        QString title;
        for (QChar c : windows_.windowTitle(w).left(kMaxTitle))
            title += c.unicode() < 0x20 ? QChar(u' ') : c;
        if (title.trimmed().isEmpty())
            continue;
        const qint64 pid = windows_.windowProcess(w);
        out.append({w, title, pid, pid != 0 ? processes_.executable(pid) : QString()});
    }
    return out;
}

QString TaskList::BackgroundReport() {
    auto hex = [](platform::WindowId w, int digits) {
        return QStringLiteral("%1")
            .arg(static_cast<qulonglong>(w), digits, 16, QLatin1Char('0'))
            .toUpper();
    };
    const platform::WindowId front = windows_.foregroundWindow();
    const qint64 pid = front ? windows_.windowProcess(front) : 0;
    QString text = QStringLiteral("corriendo - ") + hex(front, 10) + QStringLiteral("-->") +
                   (front ? windows_.windowClass(front) : QString()) + QStringLiteral(" : ") +
                   (pid ? processes_.executable(pid) : QString());
    for (const Task& t : allTasks())
        text += u'\n' + t.title + u'[' + hex(t.window, 8) + u']';
    return text;
}

QByteArray TaskList::Encode(const QList<Task>& tasks, qsizetype maxBytes) {
    QList<QByteArray> items;
    QByteArray text;
    for (const Task& t : tasks) {
        items << common::ToCp1252(t.title);
        QByteArray next = protocol::JoinCommaList(items);
        if (next.size() > maxBytes) {
            items.removeLast();
            continue;
        }
        text = std::move(next);
    }
    return text;
}

bool TaskList::close(const QString& title) {
    for (const Task& t : tasks())
        if (t.title.compare(title, Qt::CaseInsensitive) == 0)
            return closeTask(t);
    return false;
}

bool TaskList::closeTask(const Task& task) {
    if (task.title.compare(QLatin1String(kQuitTitle), Qt::CaseInsensitive) == 0 &&
        windows_.quitWindow(task.window))
        return true;
    // A desktop that cannot end the program still gets the window closed.
    return windows_.closeWindow(task.window);
}

void TaskList::recordBaseline() {
    keys::kClientTasks.write(registry_, common::FromCp1252(Encode(tasks())));
}

std::optional<QStringList> TaskList::baseline() const {
    // A missing text value reads as empty: only a stored one is a baseline.
    if (!keys::kClientTasks.exists(registry_))
        return std::nullopt;
    const std::optional<QString> stored = keys::kClientTasks.read(registry_);
    if (!stored)
        return std::nullopt;
    const QString text = stored->left(kMaxBaselineText);
    QStringList out;
    for (const QByteArray& item : protocol::SplitCommaList(common::ToCp1252(text)))
        out << common::FromCp1252(item);
    // A list of one empty item is no baseline.
    out.removeAll(QString());
    return out;
}

QStringList TaskList::clean(const std::function<void(const QString& title)>& closing) {
    QStringList closed;
    const std::optional<QStringList> base = baseline();
    if (!base)
        return closed;
    for (const Task& t : tasks()) {
        if (base->contains(t.title, Qt::CaseInsensitive))
            continue;
        if (closing)
            closing(t.title);
        windows_.closeWindow(t.window);
        closed << t.title;
    }
    return closed;
}

} // namespace tarvina::client
