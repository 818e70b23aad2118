#include "platform/linux/SettingsApplets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvina::platform;

namespace {

void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

TEST(SettingsApplets, SettingsEntriesByFileNameTheEarlierFolderWins) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString user = dir.filePath(QStringLiteral("user"));
    const QString system = dir.filePath(QStringLiteral("system"));
    QDir().mkpath(user);
    QDir().mkpath(system);
    Write(system + "/zz-display.desktop", "[Desktop Entry]\nName=Display\nName[es]=Pantalla\n"
                                          "Categories=GTK;Settings;HardwareSettings;\n");
    Write(system + "/editor.desktop", "[Desktop Entry]\nName=Editor\nCategories=Utility;\n");
    Write(system + "/mouse.desktop", "[Desktop Entry]\nName=Mouse\nCategories=Settings;\n");
    // The user's copy hides the system's entry, as the menus do.
    Write(user + "/mouse.desktop",
          "[Desktop Entry]\nName=Mouse\nCategories=Settings;\nHidden=true\n");
    // Keys of another group do not count.
    Write(system + "/actions.desktop", "[Desktop Entry]\nName=Acciones\nCategories=Utility;\n"
                                       "[Desktop Action x]\nCategories=Settings;\n");
    Write(system + "/bare.desktop", "[Desktop Entry]\nCategories=Settings\n");
    Write(system + "/huge.desktop",
          "[Desktop Entry]\nCategories=Settings;\n" + QByteArray(70 * 1024, '#'));

    const QList<ControlApplet> list = ListSettingsApplets({user, system, dir.filePath("none")});
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].file, QStringLiteral("bare.desktop"));
    EXPECT_TRUE(list[0].description.isEmpty());
    EXPECT_EQ(list[1].file, QStringLiteral("zz-display.desktop"));
    EXPECT_EQ(list[1].description, QStringLiteral("Pantalla"));
}

} // namespace
