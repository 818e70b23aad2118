#include "client/ui/TfrmConfig.h"

#include "client/ui/Dialogs.h"
#include "platform/fake/FakeNetworkBrowser.h"
#include "platform/fake/FakePinger.h"

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::config;

namespace {

ConfigValues Loaded() {
    ConfigValues v;
    v.host = QStringLiteral("caja");
    v.pass1 = ConfigModel::kPlaceholder1;
    v.pass2 = ConfigModel::kPlaceholder2;
    v.background = QStringLiteral("/p/fondo.png");
    v.alarmSnd = QStringLiteral("/s/alarma.wav");
    v.winBackground = QStringLiteral("/p/escritorio.jpg");
    v.wallpaperStyle = 2;
    v.startWithSystem = true;
    v.msgOnlyWhenNotBlocked = true;
    v.protectLogo = true;
    v.hiddenTaskBar = true;
    v.hiddenDrives = 0x9; // A: and D:
    v.rotation = {{QStringLiteral("a.gif"), 7}, {QStringLiteral("b.gif"), 5}};
    v.transparency = 40;
    v.intDisconn = 5000;
    v.intConn = 15000;
    v.intNewConn = 3000;
    v.timeout = 0;
    return v;
}

// Answers the message box that the next click opens.
void AcceptNextMessageBox() {
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                box->accept();
    });
}

class TfrmConfigTest : public ::testing::Test {
protected:
    platform::FakePinger pinger;
    platform::FakeNetworkBrowser browser;
    ui::TfrmConfig dialog{pinger, &browser, 1};
};

TEST_F(TfrmConfigTest, ShowsAndGivesBackEveryValueUnchanged) {
    const ConfigValues in = Loaded();
    dialog.load(in);
    const ConfigValues out = dialog.values();
    EXPECT_EQ(out.host, in.host);
    EXPECT_EQ(out.pass1, in.pass1);
    EXPECT_EQ(out.pass2, in.pass2);
    EXPECT_FALSE(out.passwordChanged);
    EXPECT_EQ(out.background, in.background);
    EXPECT_EQ(out.alarmSnd, in.alarmSnd);
    EXPECT_EQ(out.winBackground, in.winBackground);
    EXPECT_EQ(out.wallpaperStyle, 2);
    EXPECT_EQ(dialog.CmbStyle->currentText(), QStringLiteral("Estirado"));
    EXPECT_TRUE(out.startWithSystem && out.msgOnlyWhenNotBlocked && out.protectLogo &&
                out.hiddenTaskBar);
    EXPECT_EQ(out.hiddenDrives, 0x9u);
    EXPECT_FALSE(out.drivesChanged);
    EXPECT_EQ(out.rotation, in.rotation);
    EXPECT_EQ(out.transparency, 40);
    EXPECT_EQ(std::tie(out.intDisconn, out.intConn, out.intNewConn, out.timeout),
              std::tie(in.intDisconn, in.intConn, in.intNewConn, in.timeout));
}

TEST_F(TfrmConfigTest, EditsMarkThePasswordAndTheDrivesAndTheSecondBoxFollowsTheFirst) {
    dialog.load(Loaded());
    EXPECT_TRUE(dialog.TxtPass2->isEnabled());
    dialog.TxtPass1->selectAll();
    QTest::keyClick(dialog.TxtPass1, Qt::Key_Delete);
    EXPECT_FALSE(dialog.TxtPass2->isEnabled());
    QTest::keyClicks(dialog.TxtPass1, QStringLiteral("nuevo"));
    EXPECT_TRUE(dialog.TxtPass2->isEnabled());
    EXPECT_TRUE(dialog.values().passwordChanged);
    // A ticked letter is a visible one: unticking C: hides it.
    EXPECT_EQ(dialog.LstViewDrive->item(0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(dialog.LstViewDrive->item(1)->checkState(), Qt::Checked);
    dialog.LstViewDrive->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(dialog.values().drivesChanged);
    EXPECT_EQ(dialog.values().hiddenDrives, 0xDu);
    // Loading again clears both marks.
    dialog.load(Loaded());
    EXPECT_FALSE(dialog.values().passwordChanged);
    EXPECT_FALSE(dialog.values().drivesChanged);
}

TEST_F(TfrmConfigTest, ControlPanelAndWindowsPagesReadWhenFirstShownAfterEachLoad) {
    int appletReads = 0, windowsReads = 0;
    WindowsPageValues stored;
    stored.ticked[2] = true; // "Menú de ejecución:"
    stored.myDocuments = true;
    dialog.setPageLoaders(
        [&] {
            ++appletReads;
            return QList<AppletLine>{{QStringLiteral("a.desktop"), QStringLiteral("a [A]"), true},
                                     {QStringLiteral("b.desktop"), QStringLiteral("b"), false}};
        },
        [&] {
            ++windowsReads;
            return stored;
        });
    dialog.load(Loaded());
    EXPECT_EQ(appletReads + windowsReads, 0);
    EXPECT_FALSE(dialog.values().appletsLoaded);
    EXPECT_FALSE(dialog.values().windowsLoaded);

    const auto show = [this](const QString& title) {
        for (int i = 0; i < dialog.Pages->count(); ++i)
            if (dialog.Pages->tabText(i) == title)
                dialog.Pages->setCurrentIndex(i);
    };
    show(QStringLiteral("Panel de control"));
    show(QStringLiteral("Windows"));
    show(QStringLiteral("Panel de control"));
    EXPECT_EQ(appletReads, 1);
    EXPECT_EQ(windowsReads, 1);
    ASSERT_EQ(dialog.ChkLstPanel->count(), 2);
    EXPECT_EQ(dialog.ChkLstPanel->item(0)->text(), QStringLiteral("a [A]"));
    EXPECT_EQ(dialog.ChkPolicies[2]->text(), QStringLiteral("Menú de ejecución:"));
    EXPECT_TRUE(dialog.ChkPolicies[2]->isChecked());
    EXPECT_TRUE(dialog.ChkMisDocumentos->isChecked());
    EXPECT_EQ(dialog.ChkPapelera->text(), QStringLiteral("Paplelera en el escritorio:"));

    dialog.ChkLstPanel->item(1)->setCheckState(Qt::Checked);
    dialog.ChkPolicies[5]->setChecked(true);
    ConfigValues out = dialog.values();
    ASSERT_TRUE(out.appletsLoaded && out.windowsLoaded);
    EXPECT_EQ(out.applets[1].file, QStringLiteral("b.desktop"));
    EXPECT_TRUE(out.applets[1].shown);
    WindowsPageValues expected = stored;
    expected.ticked[5] = true;
    EXPECT_EQ(out.windows, expected);

    // The next opening reads both pages again when they are shown.
    dialog.load(Loaded());
    EXPECT_EQ(dialog.Pages->currentIndex(), 0);
    EXPECT_FALSE(dialog.values().appletsLoaded);
    show(QStringLiteral("Panel de control"));
    EXPECT_EQ(appletReads, 2);
}

TEST_F(TfrmConfigTest, PresetButtonsFillTheFourNetworkBoxes) {
    dialog.load(Loaded());
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == ConfigModel::PresetCaption(2))
            b->click();
    EXPECT_EQ(dialog.SpinDisconn->value(), 1000);
    EXPECT_EQ(dialog.SpinConn->value(), 2500);
    EXPECT_EQ(dialog.SpinNewConn->value(), 1000);
    EXPECT_EQ(dialog.SpinTimeOut->value(), 2500);
    // The boxes keep typed values inside their ranges.
    dialog.SpinConn->setValue(100);
    EXPECT_EQ(dialog.SpinConn->value(), 500);
}

TEST_F(TfrmConfigTest, AMismatchKeepsTheDialogOpenWithEmptyBoxes) {
    dialog.load(Loaded());
    dialog.setSaver([](const ConfigValues&) {
        SaveOutcome o;
        o.kind = SaveOutcome::Kind::PasswordMismatch;
        o.message = QStringLiteral("Las contraseñas tipeadas no coinciden.");
        return o;
    });
    dialog.show();
    AcceptNextMessageBox();
    dialog.BtnOk->click();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.TxtPass1->text().isEmpty());
    EXPECT_TRUE(dialog.TxtPass2->text().isEmpty());
    EXPECT_FALSE(dialog.values().passwordChanged);

    int saves = 0;
    dialog.setSaver([&saves](const ConfigValues&) {
        ++saves;
        return SaveOutcome{};
    });
    dialog.BtnOk->click();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(TfrmConfigTest, RefrescaListsTheServersFoundAndKeepsTheTypedHost) {
    browser.setComputers({QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.6")});
    dialog.load(Loaded());
    QPushButton* refresh = nullptr;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == u"Refresca")
            refresh = b;
    ASSERT_NE(refresh, nullptr);
    ASSERT_TRUE(refresh->isEnabled());
    refresh->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.CmbHost->count() == 2; }, 5000));
    EXPECT_EQ(dialog.CmbHost->itemText(1), QStringLiteral("10.0.0.6"));
    EXPECT_EQ(dialog.CmbHost->currentText(), QStringLiteral("caja"));
}

TEST(TfrmRed, RefrescaAndTestWorkOnceTheNetworkIsGiven) {
    platform::FakePinger pinger;
    platform::FakeNetworkBrowser browser;
    browser.setComputers({QStringLiteral("192.168.0.9")});
    ui::TfrmRed chooser{QString()};
    EXPECT_FALSE(chooser.BtnRefresca->isEnabled());
    EXPECT_FALSE(chooser.BtnTest->isEnabled());
    chooser.useNetwork(pinger, &browser, 1);
    ASSERT_TRUE(chooser.BtnRefresca->isEnabled());
    chooser.BtnRefresca->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser.CmbNameIP->count() == 1; }, 5000));
    EXPECT_EQ(chooser.host(), QStringLiteral("192.168.0.9"));

    // Test: the echo is asked for the typed host; the caption comes back.
    chooser.CmbNameIP->setEditText(QStringLiteral("127.0.0.1"));
    chooser.show();
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                shown = box->text();
                box->accept();
            }
    });
    poll.start(20);
    chooser.BtnTest->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 15000));
    EXPECT_TRUE(shown.startsWith(QStringLiteral("La dirección '127.0.0.1' NO responde")))
        << shown.toStdString();
    EXPECT_EQ(pinger.asked, QStringList{QStringLiteral("127.0.0.1")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser.BtnTest->isEnabled(); }, 5000));
    EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Selecciona computador en RED"));
}

} // namespace
