// The test display itself: a real window on it is seen by the window manager,
// driven through the accessibility bus by its name, and photographed.
#include "support/XDisplay.h"

#include "support/TempDir.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

using tarvina::test::TestDisplay;

TEST(XDisplay, WindowsAreDrivenByNameAndPhotographed) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QWidget w;
    w.setWindowTitle(QStringLiteral("Prueba de pantalla"));
    w.setStyleSheet(QStringLiteral("background: rgb(0, 128, 0);"));
    auto* layout = new QVBoxLayout(&w);
    auto* edit = new QLineEdit(&w);
    edit->setAccessibleName(QStringLiteral("Usuario"));
    auto* button = new QPushButton(QStringLiteral("Aceptar"), &w);
    layout->addWidget(edit);
    layout->addWidget(button);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    w.setGeometry(100, 100, 300, 200);
    w.show();
    // Mapping goes through openbox and Qt's accessibility bridge registering
    // the window on the bus; on a loaded machine that alone can take seconds.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 30000));

    // The window manager lists the window under its title.
    QString out;
    ASSERT_EQ(TestDisplay().run(QStringLiteral("wmctrl"), {QStringLiteral("-l")}, &out), 0)
        << qPrintable(out);
    EXPECT_TRUE(out.contains(QStringLiteral("Prueba de pantalla"))) << qPrintable(out);

    ASSERT_EQ(TestDisplay().atspi({QStringLiteral("wait"), QStringLiteral("Aceptar"),
                                   QStringLiteral("push button"), QStringLiteral("10")},
                                  &out),
              0)
        << qPrintable(out);
    ASSERT_EQ(
        TestDisplay().atspi(
            {QStringLiteral("settext"), QStringLiteral("Usuario"), QStringLiteral("Ana")}, &out),
        0)
        << qPrintable(out);
    ASSERT_EQ(TestDisplay().atspi({QStringLiteral("press"), QStringLiteral("Aceptar"),
                                   QStringLiteral("push button")},
                                  &out),
              0)
        << qPrintable(out);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clicks == 1; }, 30000));
    EXPECT_EQ(edit->text(), QStringLiteral("Ana"));
    EXPECT_NE(TestDisplay().atspi({QStringLiteral("find"), QStringLiteral("No existe")}), 0);

    tarvina::test::TempDir dir;
    const QString png = dir.file(QStringLiteral("shot.png"));
    ASSERT_TRUE(TestDisplay().screenshot(png));
    const QImage shot(png);
    ASSERT_EQ(shot.size(), QSize(1280, 1024));
    // Somewhere inside the window's client area the green background shows.
    const QPoint inside = w.mapToGlobal(QPoint(w.width() - 5, w.height() / 2));
    EXPECT_EQ(QColor(shot.pixel(inside)), QColor(0, 128, 0));
}
