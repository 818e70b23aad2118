#include "client/config/ConfigModel.h"

#include "common/Password.h"
#include "platform/fake/FakeAutostart.h"
#include "platform/fake/MemoryRegistry.h"

#include <QCryptographicHash>
#include <QSet>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::config;
using platform::Root;

namespace {

class RecordingTarget final : public ConfigTarget {
public:
    std::optional<ClientSettings> applied;
    bool hostChanged = false;
    bool backupResult = true;
    int forcedBackups = 0;
    QList<quint32> hiddenDrives;
    QStringList calls;

    void applySettings(const ClientSettings& next, bool changed) override {
        applied = next;
        hostChanged = changed;
        calls << QStringLiteral("apply");
    }
    bool backupLogos(bool force) override {
        forcedBackups += force ? 1 : 0;
        calls << QStringLiteral("backup");
        return backupResult;
    }
    void setTaskBarHidden(bool hidden) override {
        calls << (hidden ? QStringLiteral("taskbar hidden") : QStringLiteral("taskbar shown"));
    }
    void setHiddenDrives(quint32 mask) override { hiddenDrives << mask; }
    void showLockPicture(const QString& path) override { calls << QStringLiteral("lock ") + path; }
    void applyWallpaper() override { calls << QStringLiteral("wallpaper"); }
    void reloadRotation() override { calls << QStringLiteral("rotation"); }
};

class ConfigModelTest : public ::testing::Test {
protected:
    platform::MemoryRegistry registry;
    platform::FakeAutostart autostart;
    QSet<QString> files{QStringLiteral("/pics/new.png"), QStringLiteral("/pics/wall.jpg"),
                        QStringLiteral("/snd/bell.wav")};
    ConfigModel model{registry, autostart, [this](const QString& p) { return files.contains(p); }};
    RecordingTarget target;
    ClientSettings current = ClientSettings::Defaults();

    SaveOutcome save(const ConfigValues& v) {
        return model.save(v, current, target, QStringLiteral("/cur"),
                          QStringLiteral("/bin/puesto"));
    }
    ClientSettings stored() const { return ClientSettings::Read(registry); }
};

TEST_F(ConfigModelTest, LoadShowsTheCurrentValuesAndTwoDifferentPlaceholders) {
    current.host = QStringLiteral("caja");
    current.alphaBlend = 26;
    current.winBackgroundTile = 0;
    current.winBackgroundStyle = 2;
    current.msgAtBlock = true;
    autostart.enabled = true;
    const ConfigValues v = model.load(current);
    EXPECT_EQ(v.host, QStringLiteral("caja"));
    EXPECT_EQ(v.pass1.size(), 13);
    EXPECT_EQ(v.pass2.size(), 13);
    EXPECT_NE(v.pass1, v.pass2);
    EXPECT_FALSE(v.passwordChanged);
    EXPECT_EQ(v.transparency, 89);
    EXPECT_EQ(v.wallpaperStyle, 2);
    EXPECT_TRUE(v.startWithSystem);
    EXPECT_FALSE(v.msgOnlyWhenNotBlocked);
    EXPECT_EQ(v.intConn, current.intConn);
}

TEST_F(ConfigModelTest, OkWithoutTouchingThePasswordKeepsItAndStoresTheIntervals) {
    ConfigValues v = model.load(current);
    v.intConn = 2000;
    const SaveOutcome out = save(v);
    ASSERT_EQ(out.kind, SaveOutcome::Kind::Saved);
    EXPECT_TRUE(out.notStored.isEmpty());
    EXPECT_EQ(stored().intConn, 2000);
    EXPECT_EQ(stored().password, current.password);
    ASSERT_TRUE(target.applied);
    EXPECT_EQ(target.applied->intConn, 2000);
    EXPECT_EQ(target.applied->password, current.password);
    EXPECT_FALSE(out.hostChanged);
}

TEST_F(ConfigModelTest, SameNewPasswordTwiceStoresItsScrambledForm) {
    ConfigValues v = model.load(current);
    v.pass1 = v.pass2 = QStringLiteral("gorrión");
    v.passwordChanged = true;
    ASSERT_EQ(save(v).kind, SaveOutcome::Kind::Saved);
    EXPECT_EQ(stored().password, common::ScramblePassword("gorri\xf3n"));
    EXPECT_EQ(target.applied->password, common::ScramblePassword("gorri\xf3n"));
}

TEST_F(ConfigModelTest, DifferentPasswordsSaveNothingAtAll) {
    ConfigValues v = model.load(current);
    v.pass1 = QStringLiteral("uno");
    v.pass2 = QStringLiteral("dos");
    v.passwordChanged = true;
    v.intConn = 2000;
    v.startWithSystem = true;
    const SaveOutcome out = save(v);
    EXPECT_EQ(out.kind, SaveOutcome::Kind::PasswordMismatch);
    EXPECT_EQ(out.message, QStringLiteral("Las contraseñas tipeadas no coinciden."));
    EXPECT_TRUE(target.calls.isEmpty());
    EXPECT_TRUE(autostart.calls.isEmpty());
    EXPECT_EQ(registry.saveCount(), 0);
}

TEST_F(ConfigModelTest, BadHandTypedValuesAreRefusedInSpanishBeforeAnythingIsSaved) {
    struct Case {
        const char* what;
        std::function<void(ConfigValues&)> spoil;
        const char* words;
    };
    const Case cases[] = {
        {"blank in host", [](ConfigValues& v) { v.host = QStringLiteral("mi caja"); }, "espacios"},
        {"300-char host", [](ConfigValues& v) { v.host = QString(300, u'a'); }, "largo"},
        {"empty host", [](ConfigValues& v) { v.host = QStringLiteral("  "); }, "Escriba"},
        {"odd char", [](ConfigValues& v) { v.host = QStringLiteral("caja/1"); }, "no válidos"},
        {"IntConn low", [](ConfigValues& v) { v.intConn = 499; }, "500 y 60000"},
        {"IntDisconn high", [](ConfigValues& v) { v.intDisconn = 60001; }, "500 y 60000"},
        {"timeout negative", [](ConfigValues& v) { v.timeout = -1; }, "0 y 60000"},
        {"transparency", [](ConfigValues& v) { v.transparency = 91; }, "transparencia"},
        {"rotation path",
         [](ConfigValues& v) {
             v.rotation = {{QStringLiteral("a\nb"), 5}};
         },
         "no es válido"},
        {"rotation seconds",
         [](ConfigValues& v) {
             v.rotation = {{QStringLiteral("a.gif"), 0}};
         },
         "segundos"},
    };
    for (const Case& c : cases) {
        ConfigValues v = model.load(current);
        c.spoil(v);
        const SaveOutcome out = save(v);
        EXPECT_EQ(out.kind, SaveOutcome::Kind::Invalid) << c.what;
        EXPECT_TRUE(out.message.contains(QString::fromUtf8(c.words)))
            << c.what << ": " << out.message.toStdString();
    }
    EXPECT_TRUE(target.calls.isEmpty());
    EXPECT_EQ(registry.saveCount(), 0);
    // Both range ends are accepted.
    ConfigValues v = model.load(current);
    v.intConn = 500;
    v.intDisconn = 60000;
    v.timeout = 0;
    v.host = QString(253, u'b');
    EXPECT_EQ(save(v).kind, SaveOutcome::Kind::Saved);
}

TEST_F(ConfigModelTest, AStoreThatCannotSaveIsReportedAndTheStationStillFollows) {
    registry.setFailSaves(true);
    ConfigValues v = model.load(current);
    v.intConn = 2000;
    const SaveOutcome out = save(v);
    EXPECT_EQ(out.kind, SaveOutcome::Kind::Saved);
    ASSERT_FALSE(out.notStored.isEmpty());
    EXPECT_EQ(out.notStored.first(), QStringLiteral("La configuración requiere privilegio de "
                                                    "administrador para ser almacenada"));
    ASSERT_TRUE(target.applied);
    EXPECT_EQ(target.applied->intConn, 2000);
}

TEST_F(ConfigModelTest, TransparencyAndAlphaConvertBothWays) {
    EXPECT_EQ(ConfigModel::AlphaFromTransparency(90), 26);
    EXPECT_EQ(ConfigModel::AlphaFromTransparency(0), 255);
    EXPECT_EQ(ConfigModel::TransparencyFromAlpha(255), 0);
    EXPECT_EQ(ConfigModel::TransparencyFromAlpha(26), 89);
    ConfigValues v = model.load(current);
    v.transparency = 90;
    save(v);
    EXPECT_EQ(target.applied->alphaBlend, 26);
    EXPECT_EQ(registry.readInteger(Root::LocalMachine, QStringLiteral("\\Software\\Velt\\Tarvina"),
                                   QStringLiteral("AlphaBlend")),
              26);
}

TEST_F(ConfigModelTest, FilesAreTakenOnlyWhenTheyExistAndDiffer) {
    current.background = QStringLiteral("zu26x.gif");
    ConfigValues v = model.load(current);
    v.background = QStringLiteral("\"/pics/new.png\"");
    v.alarmSnd = QStringLiteral("/snd/missing.wav");
    v.winBackground = QStringLiteral("/pics/wall.jpg");
    v.wallpaperStyle = 2;
    save(v);
    EXPECT_EQ(target.applied->background, QStringLiteral("/pics/new.png"));
    EXPECT_EQ(target.applied->alarmSnd, current.alarmSnd);
    EXPECT_EQ(target.applied->winBackground, QStringLiteral("/pics/wall.jpg"));
    EXPECT_EQ(target.applied->winBackgroundStyle, 2);
    EXPECT_EQ(target.applied->winBackgroundTile, 0);
    EXPECT_TRUE(target.calls.contains(QStringLiteral("lock /pics/new.png")));
    EXPECT_TRUE(target.calls.contains(QStringLiteral("wallpaper")));

    // "Mosaico" is tile 1, style 0; an unchanged lock picture is not reloaded.
    current = *target.applied;
    target.calls.clear();
    v = model.load(current);
    v.wallpaperStyle = 1;
    save(v);
    EXPECT_EQ(target.applied->winBackgroundTile, 1);
    EXPECT_EQ(target.applied->winBackgroundStyle, 0);
    EXPECT_FALSE(target.calls.contains(QStringLiteral("lock /pics/new.png")));
}

TEST_F(ConfigModelTest, SwitchesAreWrittenAndAppliedAtOnce) {
    ConfigValues v = model.load(current);
    v.startWithSystem = true;
    v.hiddenTaskBar = true;
    v.protectLogo = true;
    v.msgOnlyWhenNotBlocked = false;
    target.backupResult = false; // the backup failed: protection stays off
    save(v);
    EXPECT_EQ(autostart.calls, QStringList{QStringLiteral("on")});
    EXPECT_TRUE(target.calls.contains(QStringLiteral("taskbar hidden")));
    EXPECT_TRUE(target.applied->msgAtBlock);
    const QString key = QStringLiteral("\\Software\\Velt\\Tarvina");
    EXPECT_EQ(registry.readInteger(Root::LocalMachine, key, QStringLiteral("GlbBarraInvisible")),
              1);
    EXPECT_EQ(registry.readInteger(Root::LocalMachine, key, QStringLiteral("ProtectWinLogo")), 0);
    EXPECT_TRUE(model.load(*target.applied).startWithSystem);

    autostart.fails = true;
    v.startWithSystem = false;
    const SaveOutcome out = save(v);
    ASSERT_EQ(out.notStored.size(), 1);
    EXPECT_TRUE(out.notStored.first().startsWith(QStringLiteral("Inicio con el sistema")));
}

TEST_F(ConfigModelTest, RotationListIsStoredInItsOrder) {
    ConfigValues v = model.load(current);
    v.rotation = {{QStringLiteral("b.gif"), 7}, {QStringLiteral("a.gif"), 3}};
    save(v);
    EXPECT_EQ(ConfigModel::ReadRotation(registry), v.rotation);
    EXPECT_TRUE(target.calls.contains(QStringLiteral("rotation")));
    EXPECT_EQ(model.load(current).rotation, v.rotation);
}

TEST_F(ConfigModelTest, DrivesGoAsFourRawBytesIntoAnExistingPolicyKeyOnlyWhenChanged) {
    const QString explorer =
        QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer");
    ConfigValues v = model.load(current);
    v.hiddenDrives = 0xC; // C: and D: unticked
    save(v);
    EXPECT_FALSE(registry.valueExists(Root::CurrentUser, explorer, QStringLiteral("NoDrives")))
        << "drives untouched: not saved";

    // Without the policies key nothing is written, and the staff are told.
    v.drivesChanged = true;
    SaveOutcome out = save(v);
    EXPECT_FALSE(registry.keyExists(Root::CurrentUser, explorer));
    ASSERT_EQ(out.notStored.size(), 1);
    EXPECT_TRUE(out.notStored.first().startsWith(QStringLiteral("Unidades de disco")));
    EXPECT_EQ(model.load(current).hiddenDrives, 0u) << "all letters show as visible";
    EXPECT_TRUE(target.hiddenDrives.isEmpty());

    registry.createKey(Root::CurrentUser, explorer);
    out = save(v);
    EXPECT_TRUE(out.notStored.isEmpty());
    EXPECT_EQ(registry.readBinary(Root::CurrentUser, explorer, QStringLiteral("NoDrives")),
              QByteArray("\x0C\x00\x00\x00", 4));
    EXPECT_EQ(model.load(current).hiddenDrives, 0xCu);
    EXPECT_EQ(target.hiddenDrives, QList<quint32>{0xCu}) << "the desktop hides them too";

    // A short raw value counts its bytes; an integer as stored before is read.
    registry.writeBinary(Root::CurrentUser, explorer, QStringLiteral("NoDrives"),
                         QByteArray("\x01", 1));
    EXPECT_EQ(ConfigModel::ReadHiddenDrives(registry), 0x1u);
    registry.writeInteger(Root::CurrentUser, explorer, QStringLiteral("NoDrives"), 0x7FFFFFFF);
    EXPECT_EQ(ConfigModel::ReadHiddenDrives(registry), 0x03FFFFFFu);
}

TEST_F(ConfigModelTest, WindowsPagePoliciesFollowTheirBoxesAndStayAloneUntilShown) {
    const QString explorer =
        QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer");
    const QString network =
        QStringLiteral("\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Network");
    registry.writeInteger(Root::CurrentUser, explorer, QStringLiteral("NoRun"), 1);
    registry.writeInteger(Root::CurrentUser, explorer, QStringLiteral("NoClose"), 0);

    // Never shown: a save leaves every policy as it was.
    ConfigValues v = model.load(current);
    EXPECT_FALSE(v.windowsLoaded);
    save(v);
    EXPECT_EQ(registry.readInteger(Root::CurrentUser, explorer, QStringLiteral("NoRun")), 1);

    v.windows = model.loadWindowsPage();
    v.windowsLoaded = true;
    const auto at = [](const char* name) {
        for (int i = 0; i < kPolicyCount; ++i)
            if (qstrcmp(kPolicyBoxes[i].value, name) == 0)
                return i;
        return -1;
    };
    EXPECT_FALSE(v.windows.ticked[at("NoRun")]) << "run menu restricted: box clear";
    EXPECT_TRUE(v.windows.ticked[at("NoClose")]) << "a zero value is no restriction";
    EXPECT_TRUE(v.windows.ticked[at("NoLogoff")]);
    EXPECT_FALSE(v.windows.ticked[at("NoNetSetup")]);
    EXPECT_EQ(QString::fromUtf16(kPolicyBoxes[at("NoRun")].caption),
              QStringLiteral("Menú de ejecución:"));
    EXPECT_EQ(QString::fromUtf16(kPolicyBoxes[at("NoSetActiveDesktop")].caption),
              QStringLiteral("\"Active desktop\" funcional:"));

    v.windows.ticked[at("NoRun")] = true;      // allowed again: value deleted
    v.windows.ticked[at("NoLogoff")] = false;  // forbidden: value 1
    v.windows.ticked[at("NoNetSetup")] = true; // restriction on: value 1
    save(v);
    EXPECT_FALSE(registry.valueExists(Root::CurrentUser, explorer, QStringLiteral("NoRun")));
    EXPECT_FALSE(registry.valueExists(Root::CurrentUser, explorer, QStringLiteral("NoClose")));
    EXPECT_EQ(registry.readInteger(Root::CurrentUser, explorer, QStringLiteral("NoLogoff")), 1);
    EXPECT_EQ(registry.readInteger(Root::CurrentUser, network, QStringLiteral("NoNetSetup")), 1);
    EXPECT_EQ(model.loadWindowsPage(), v.windows);
}

TEST_F(ConfigModelTest, DesktopIconKeysAreCreatedAndRemovedWithTheirBoxes) {
    const QString ns = QStringLiteral(
        "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Desktop\\NameSpace\\");
    const QString bin = ns + QStringLiteral("{645FF040-5081-101B-9F08-00AA002F954E}");
    const QString docs = ns + QStringLiteral("{450D8FBA-AD25-11D0-98A8-0800361B1103}");
    ConfigValues v = model.load(current);
    v.windows = model.loadWindowsPage();
    EXPECT_FALSE(v.windows.recycleBin || v.windows.myDocuments);
    v.windowsLoaded = true;
    v.windows.recycleBin = v.windows.myDocuments = true;
    save(v);
    EXPECT_EQ(registry.readString(Root::LocalMachine, bin, QString()),
              QStringLiteral("Recycle Bin"));
    EXPECT_EQ(registry.readString(Root::LocalMachine, docs, QStringLiteral("Removal Message")),
              QStringLiteral("@mydocs.dll,-900"));
    v.windows.recycleBin = v.windows.myDocuments = false;
    save(v);
    EXPECT_FALSE(registry.keyExists(Root::LocalMachine, bin));
    EXPECT_FALSE(registry.keyExists(Root::LocalMachine, docs)) << "the box reads back clear";
    EXPECT_FALSE(model.loadWindowsPage().myDocuments);
}

TEST_F(ConfigModelTest, HostChangeIsReportedForTheWarning) {
    ConfigValues v = model.load(current);
    v.host = QStringLiteral(" 192.168.1.5 ");
    const SaveOutcome out = save(v);
    EXPECT_TRUE(out.hostChanged);
    EXPECT_TRUE(target.hostChanged);
    EXPECT_EQ(stored().host, QStringLiteral("192.168.1.5"));
}

TEST_F(ConfigModelTest, PresetsSetTheFourNetworkBoxes) {
    ConfigValues v;
    ConfigModel::ApplyPreset(v, 0);
    EXPECT_EQ(std::tie(v.intDisconn, v.intConn, v.intNewConn, v.timeout),
              std::make_tuple(5000, 15000, 3000, 0));
    ConfigModel::ApplyPreset(v, 1);
    EXPECT_EQ(std::tie(v.intDisconn, v.intConn, v.intNewConn, v.timeout),
              std::make_tuple(2000, 5000, 1500, 2500));
    ConfigModel::ApplyPreset(v, 2);
    EXPECT_EQ(std::tie(v.intDisconn, v.intConn, v.intNewConn, v.timeout),
              std::make_tuple(1000, 2500, 1000, 2500));
    EXPECT_EQ(ConfigModel::PresetCaption(1),
              QStringLiteral("Establece valores de respuesta rápida."));
}

} // namespace

TEST_F(ConfigModelTest, TheNetworkKeyIsTypedLooselyStoredScrambledAndTakenByTheLink) {
    ConfigValues v = model.load(current);
    EXPECT_TRUE(v.claveRed.isEmpty());
    v.claveRed = QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8V"); // one short
    EXPECT_EQ(save(v).kind, SaveOutcome::Kind::Invalid);
    EXPECT_FALSE(target.applied);

    v.claveRed = QStringLiteral(" k7qf m2xd 9hpt 4wna c3rj e8vb ");
    ASSERT_EQ(save(v).kind, SaveOutcome::Kind::Saved);
    ASSERT_TRUE(target.applied);
    EXPECT_EQ(target.applied->claveRed, QByteArray("K7QFM2XD9HPT4WNAC3RJE8VB"));
    EXPECT_EQ(SecurityOf(*target.applied).psk,
              QCryptographicHash::hash("K7QFM2XD9HPT4WNAC3RJE8VB", QCryptographicHash::Sha256));
    // Never in the clear in the store; read back as the same key, shown in groups.
    EXPECT_FALSE(keys::kClaveRed.value(registry).contains(QStringLiteral("K7QF")));
    EXPECT_EQ(stored().claveRed, target.applied->claveRed);
    EXPECT_EQ(model.load(stored()).claveRed, QStringLiteral("K7QF-M2XD-9HPT-4WNA-C3RJ-E8VB"));

    // Emptied: no key, the link plain again.
    v.claveRed.clear();
    ASSERT_EQ(save(v).kind, SaveOutcome::Kind::Saved);
    EXPECT_TRUE(stored().claveRed.isEmpty());
    EXPECT_FALSE(SecurityOf(stored()).encrypts());
}
