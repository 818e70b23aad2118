#include "client/ClientFakes.h"
#include "client/session/SessionFile.h"
#include "common/ExceptionLog.h"
#include "common/Password.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace tarvina;
using namespace tarvina::client;
using namespace tarvina::client::test;
using common::DateTime;

namespace {

void AcceptNext(Station& st, QString password = {}) {
    st.welcome.answers << ScriptedWelcome::Answer{true, password, {}};
}

} // namespace

TEST(SessionLogic, ThirtyMinuteGrantAlarmsOnceAtTwentyFiveAndLocksAtThirty) {
    Station st;
    st.writeFile("alarm.wav", "RIFF");
    st.start();
    ASSERT_TRUE(st.core->display().lockVisible);
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    EXPECT_FALSE(st.core->display().lockVisible);
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("En uso: Ana"));
    EXPECT_EQ(st.core->display().caption, QStringLiteral("PC1[en uso]"));

    st.tick(25 * 60 - 1);
    EXPECT_TRUE(st.audio.played.isEmpty());
    EXPECT_FALSE(st.core->session().blinking());
    EXPECT_EQ(st.core->display().lblDisp, QStringLiteral("00:05:01"));
    st.tick(1);
    ASSERT_EQ(st.audio.played.size(), 1);
    EXPECT_TRUE(st.audio.played[0].endsWith("alarm.wav"));
    EXPECT_TRUE(st.core->session().blinking());
    st.tick(1);
    const auto c1 = st.core->display().clockColour;
    st.tick(1);
    const auto c2 = st.core->display().clockColour;
    EXPECT_NE(c1, c2);
    EXPECT_NE(c1, ClientDisplay::ClockColour::ButtonFace);
    EXPECT_NE(c2, ClientDisplay::ClockColour::ButtonFace);
    st.tick(5 * 60 - 3);
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    EXPECT_EQ(st.audio.played.size(), 1); // once
    st.tick(1);
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    EXPECT_TRUE(st.core->display().lockVisible);
    EXPECT_EQ(st.core->display().clockText, QStringLiteral("00:00:00"));
    EXPECT_EQ(st.core->display().lblDisp, QStringLiteral("00:00:00"));
    // The lock screen took the front at once; the enforcement names it.
    EXPECT_EQ(st.windows.foreground, st.own.id(OwnWindow::Lock));
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Fondo activo"));
    EXPECT_FALSE(st.core->session().blinking());
    EXPECT_EQ(st.core->session().sessionEnd().days(), 0);
}

TEST(SessionLogic, MissingAlarmSoundBlinksSilentlyAndZeroMinutesNeverAlarms) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"10", "Ana", {}});
    st.tick(5 * 60);
    EXPECT_TRUE(st.core->session().blinking());
    EXPECT_TRUE(st.audio.played.isEmpty());

    Station st2;
    st2.writeFile("alarm.wav", "RIFF");
    st2.start();
    st2.core->session().SetAlarmMinutes(0);
    AcceptNext(st2);
    st2.core->session().StartGrant({"10", "Ana", {}});
    st2.tick(10 * 60 - 1);
    EXPECT_FALSE(st2.core->session().blinking());
    EXPECT_TRUE(st2.audio.played.isEmpty());
}

TEST(SessionLogic, ExemptWindowTitleSilencesTheAlarm) {
    Station st;
    st.writeFile("alarm.wav", "RIFF");
    st.writeFile("noalarm.txt", "# comment\n; another\nJuego Importante\r\n");
    st.start();
    EXPECT_EQ(st.core->lock().alarmExemptions(), QStringList{"Juego Importante"});
    st.windows.windows[7] = {"game", "JUEGO IMPORTANTE", true, false};
    AcceptNext(st);
    st.core->session().StartGrant({"6", "Ana", {}});
    st.tick(60);
    EXPECT_TRUE(st.audio.played.isEmpty());
    EXPECT_FALSE(st.core->session().blinking());
}

TEST(SessionLogic, UnlimitedGrantCountsUpAndWrapsAfterADay) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"2880", "Ana", {}});
    ASSERT_EQ(st.welcome.shown.size(), 1);
    EXPECT_EQ(st.welcome.shown[0].timeText, QStringLiteral("Sin límite pre-establecido"));
    EXPECT_EQ(st.core->display().countMode, 1);
    EXPECT_EQ(st.core->display().dispCaption, QStringLiteral("Transcurrido"));
    st.tick(90);
    EXPECT_EQ(st.core->display().lblDisp, QStringLiteral("00:01:30"));
    st.clock.advanceMinutes(25 * 60);
    st.core->RelojVisualTick();
    EXPECT_EQ(st.core->display().lblDisp, QStringLiteral("01:01:30"));
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
}

TEST(SessionLogic, RestoreInsidePaidPeriodResumesWithTimeLeft) {
    Station st;
    SessionRecord rec;
    rec.start = st.clock.now().addMinutes(-10).days();
    rec.minutes = "60";
    rec.user = "Ana";
    rec.state = 2;
    rec.pin = "A1B2C3";
    rec.tag = "-1";
    // Found whatever the case of its name, as on the original platform.
    st.writeFile("data/Session.DTA", EncodeSessionRecord(rec));
    st.start();
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    EXPECT_FALSE(st.core->display().lockVisible);
    EXPECT_EQ(st.core->session().user(), "Ana");
    EXPECT_EQ(st.core->pin().pin(), "A1B2C3");
    st.tick(1);
    EXPECT_EQ(st.core->display().lblDisp, QStringLiteral("00:49:59"));
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("En uso: Ana"));
}

TEST(SessionLogic, RestoreAfterExpiryOrWithOtherStateLocksAtFirstTick) {
    for (int variant = 0; variant < 2; ++variant) {
        Station st;
        SessionRecord rec;
        rec.minutes = "60";
        rec.user = "Ana";
        if (variant == 0) {
            rec.start = st.clock.now().addMinutes(-61).days();
            rec.state = 2;
        } else {
            rec.start = st.clock.now().addMinutes(-10).days();
            rec.state = 4; // waiting: not a running use
        }
        st.writeFile("Data/session.dta", EncodeSessionRecord(rec));
        st.start();
        st.tick(1);
        EXPECT_EQ(st.core->session().state(), ClientState::Locked) << variant;
        EXPECT_TRUE(st.core->display().lockVisible) << variant;
        EXPECT_EQ(st.core->session().sessionEnd().days(), 0) << variant;
    }
}

TEST(SessionLogic, DamagedSessionFileStartsLockedAndIsReported) {
    for (const QByteArray& bytes :
         {QByteArray(100, 'x'), QByteArray(500, '\0'), QByteArray(384, '\xff')}) {
        Station st;
        st.writeFile("Data/session.dta", bytes);
        st.start();
        st.tick(2);
        EXPECT_EQ(st.core->session().state(), ClientState::Locked);
        EXPECT_TRUE(st.core->display().lockVisible);
        QFile log(st.home.file("CliExcept.log"));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(log.readAll().contains("session.dta"));
    }
}

TEST(SessionLogic, AnUnexpectedErrorNamesItsNumberAndTheStepUnderWay) {
    Station st;
    st.start();
    st.core->dispatcher().Dispatch("34D1"); // the tray: its step is set at once
    Station::drain();
    st.core->log().OnAppException(QStringLiteral("TfrmClient7267"), QStringLiteral("Sin permiso"),
                                  13);
    QFile log(st.home.file("CliExcept.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains(" S: TfrmClient7267 E: Sin permiso H: 13 L: OpenCloseCD"));
}

TEST(SessionLogic, EndOfUseStoresTheWholeMinutesLeftAndLocksAtNextTick) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    st.clock.advanceSeconds(30 * 60 - (12 * 60 + 40));
    st.core->session().EndOfUse();
    EXPECT_EQ(st.core->session().minutes(), "12");
    Station::drain();
    st.tick(1);
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    const auto rec = ReadSessionFile(st.core->session().sessionFilePath(), nullptr);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->minutes, "12");
    EXPECT_EQ(rec->user, "Ana");
}

TEST(SessionLogic, SaveWritesTheFieldsOfTheSession) {
    Station st;
    st.start();
    AcceptNext(st);
    const DateTime t0 = st.clock.now();
    st.core->session().StartGrant({"45", "Jos\u00e9", {}});
    const auto rec = ReadSessionFile(st.core->session().sessionFilePath(), nullptr);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->state, 2);
    EXPECT_EQ(rec->minutes, "45");
    EXPECT_EQ(rec->user, "Jos\xe9");
    EXPECT_EQ(rec->tag, "-1");
    EXPECT_DOUBLE_EQ(rec->start, t0.days());
}

TEST(SessionLogic, ThreeWrongPasswordsLeaveTheStationLockedRightOneOnThirdUnlocks) {
    const QByteArray scrambled = common::ScramblePassword("secreto");
    Station st;
    st.start();
    for (int i = 0; i < 3; ++i)
        st.welcome.answers << ScriptedWelcome::Answer{true, "mal", {}};
    st.core->session().StartGrant({"30", "Ana", scrambled});
    ASSERT_EQ(st.welcome.shown.size(), 3);
    EXPECT_TRUE(st.welcome.shown[0].askPassword);
    EXPECT_EQ(st.welcome.shown[0].caption, QStringLiteral("Acceso / Bienvenido"));
    EXPECT_EQ(st.welcome.shown[1].caption, QStringLiteral("Intento de Acceso (2)"));
    EXPECT_EQ(st.welcome.shown[2].caption, QStringLiteral("Intento de Acceso (3)"));
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    EXPECT_TRUE(st.core->display().lockVisible);

    Station ok;
    ok.start();
    ok.welcome.answers << ScriptedWelcome::Answer{true, "mal", {}}
                       << ScriptedWelcome::Answer{true, "mal", {}}
                       << ScriptedWelcome::Answer{true, "secreto", {}};
    ok.core->session().StartGrant({"30", "Ana", scrambled});
    EXPECT_EQ(ok.core->session().state(), ClientState::InUse);
    EXPECT_FALSE(ok.core->display().lockVisible);
}

TEST(SessionLogic, CancelledGrantLocksAndNoPasswordHidesTheRow) {
    Station st;
    st.start();
    st.welcome.answers << ScriptedWelcome::Answer{false, {}, {}};
    st.core->session().StartGrant({"30", "Ana", {}});
    ASSERT_EQ(st.welcome.shown.size(), 1);
    EXPECT_FALSE(st.welcome.shown[0].askPassword);
    EXPECT_EQ(st.welcome.shown[0].timeText, QStringLiteral("30 min"));
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
}

TEST(SessionLogic, SecondGrantWhileWelcomeOpenReplacesTheFirst) {
    Station st;
    st.start();
    st.welcome.answers << ScriptedWelcome::Answer{
        true, {}, [&] {
            st.core->session().StartGrant({"15", "Beto", {}});
        }};
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    // The first dialog was closed from outside: abandoned, still locked.
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    EXPECT_EQ(st.welcome.shown.size(), 1);
    Station::drain(); // the re-posted grant
    ASSERT_EQ(st.welcome.shown.size(), 2);
    EXPECT_EQ(st.welcome.shown[1].user, QStringLiteral("Beto"));
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    EXPECT_EQ(st.core->session().user(), "Beto");
    EXPECT_EQ(st.clock.now().msecsTo(st.core->session().sessionEnd()), 15 * 60000);
}

TEST(SessionLogic, ForeignWindowForThirtySixTicksOrdersLogOff) {
    Station st;
    st.start();
    st.windows.foregroundFollows = false;
    st.windows.windows[500] = {"xterm", "Terminal", true, false};
    st.windows.windows[600] = {"firefox", "Web", true, false};
    st.windows.stacking = {500, st.own.id(OwnWindow::Lock)};
    st.windows.foreground = 500;
    for (int i = 0; i < 20; ++i)
        st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 20);
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Ventana ajena activa"));
    EXPECT_TRUE(st.windows.foregroundCalls.contains(st.own.id(OwnWindow::Lock)));
    // Switching programs restarts the count.
    st.windows.foreground = 600;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 1);
    for (int i = 0; i < 34; ++i)
        st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->session().pendingShutdown(), QChar(u'N'));
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 36);
    EXPECT_EQ(st.core->session().pendingShutdown(), QChar(u'L'));
}

TEST(SessionLogic, TaskBarGetsTheTaskListAndOwnWindowsAreNamed) {
    Station st;
    st.start();
    st.windows.foregroundFollows = false;
    st.windows.windows[700] = {"tint2", "panel", true, true};
    st.windows.foreground = 700;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.windows.taskListPosts, QList<platform::WindowId>{700});
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 0);
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Shell_TrayWnd"));
    st.windows.foreground = st.own.id(OwnWindow::Clock);
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Reloj activo"));
}

TEST(SessionLogic, InUseOnlyTheClockIsKeptOnTop) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    st.windows.clearCalls();
    st.windows.windows[500] = {"xterm", "Terminal", true, false};
    st.windows.foreground = 500;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.windows.topMostCalls, QList<platform::WindowId>{st.own.id(OwnWindow::Clock)});
    EXPECT_TRUE(st.windows.foregroundCalls.isEmpty());
    EXPECT_EQ(st.core->lock().foreignWindowCount(), 0);
}

TEST(SessionLogic, ExtraTimeMovesTheEndAndNoticesUnlessSilent) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    const DateTime end0 = st.core->session().sessionEnd();
    st.core->dispatcher().Dispatch("0615");
    Station::drain();
    EXPECT_EQ(end0.msecsTo(st.core->session().sessionEnd()), 15 * 60000);
    EXPECT_EQ(st.core->session().minutes(), "45");
    EXPECT_EQ(st.notice.notices, QStringList{"Se le han otorgando 15 minutos adicionales"});
    EXPECT_EQ(st.core->session().alarmTime().msecsTo(st.core->session().sessionEnd()), 5 * 60000);
    st.core->dispatcher().Dispatch("50 10");
    st.core->dispatcher().Dispatch("50abc"); // not a number: 0
    Station::drain();
    EXPECT_EQ(end0.msecsTo(st.core->session().sessionEnd()), 25 * 60000);
    EXPECT_EQ(st.notice.notices.size(), 1);

    // Without a user nothing changes.
    Station none;
    none.start();
    none.core->dispatcher().Dispatch("0615");
    Station::drain();
    EXPECT_EQ(none.core->session().state(), ClientState::Locked);
    EXPECT_EQ(none.core->session().sessionEnd().days(), 0);
}

TEST(SessionLogic, TimeRequestModes) {
    Station st;
    st.start();
    st.core->dispatcher().Dispatch("0A2,15,30,60");
    Station::drain();
    EXPECT_TRUE(st.core->display().masTiempoVisible);
    EXPECT_FALSE(st.core->display().moreTimeFreeText);
    EXPECT_EQ(st.core->display().moreTimeItems, (QStringList{"15", "30", "60"}));
    st.core->dispatcher().Dispatch("0A0,");
    Station::drain();
    EXPECT_FALSE(st.core->display().masTiempoVisible);
    st.core->dispatcher().Dispatch("0A 1 ,");
    Station::drain();
    EXPECT_TRUE(st.core->display().masTiempoVisible);
    EXPECT_TRUE(st.core->display().moreTimeFreeText);
    st.core->dispatcher().Dispatch("0A9,1,2");
    Station::drain();
    EXPECT_TRUE(st.core->display().moreTimeFreeText);
    EXPECT_EQ(st.core->display().moreTimeItems, (QStringList{"15", "30", "60"}));
}

TEST(SessionLogic, PinKeyFilterPanelAndVerdict) {
    Station st;
    st.start();
    EXPECT_FALSE(st.core->display().pinPanelVisible);
    st.core->dispatcher().Dispatch("401");
    Station::drain();
    EXPECT_TRUE(st.core->display().pinPanelVisible);
    EXPECT_EQ(st.core->display().mainHeight, 282);
    QString box;
    for (QChar k : QStringLiteral("a1g")) {
        const QChar c = st.core->pin().FilterPinKey(k);
        if (!c.isNull())
            box += c;
    }
    EXPECT_EQ(box, "A1");
    EXPECT_EQ(st.core->display().lblStsCheckPin,
              QStringLiteral("Sólo digitos o las letras A,B,C,D,F"));
    EXPECT_EQ(st.core->pin().FilterPinKey(QChar(8)), QChar(8)); // backspace passes
    EXPECT_TRUE(st.core->display().lblStsCheckPin.isEmpty());

    st.core->pin().TryPin("A1");
    EXPECT_EQ(st.core->display().lblStsPin, QStringLiteral("No hay conexión"));
    EXPECT_EQ(st.core->display().lblStsCheckPin, QStringLiteral("Verificando PIN"));
    EXPECT_FALSE(st.core->display().edPinEnabled);
    st.core->dispatcher().Dispatch("390A1B2C3");
    Station::drain();
    EXPECT_EQ(st.core->display().lblStsCheckPin, QStringLiteral("Intento anterior fallido"));
    EXPECT_TRUE(st.core->display().edPinEnabled);
    EXPECT_TRUE(st.core->pin().pin().isEmpty());
    st.core->dispatcher().Dispatch("391A1B2C3");
    Station::drain();
    EXPECT_EQ(st.core->pin().pin(), "A1B2C3");

    // Five minutes without a verdict give the box back.
    st.core->pin().TryPin("FFFFFF");
    st.clock.advanceMinutes(5);
    st.core->lock().EnforcementTick();
    EXPECT_FALSE(st.core->display().edPinEnabled);
    st.clock.advanceSeconds(1);
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.core->display().edPinEnabled);

    // A grant hides the panel as soon as the welcome dialog opens.
    bool hiddenWhileWaiting = false;
    st.welcome.answers << ScriptedWelcome::Answer{
        true, {}, [&] { hiddenWhileWaiting = !st.core->display().pinPanelVisible; }};
    st.core->session().StartGrant({"30", "Ana", {}});
    EXPECT_TRUE(hiddenWhileWaiting);
    EXPECT_EQ(st.core->display().mainHeight, 147);
}

TEST(SessionLogic, UnknownCodesOnlyShowTheUnknownText) {
    Station st;
    st.start();
    for (const QByteArray& line : {QByteArray("7F"), QByteArray("zz hola"), QByteArray("05"),
                                   QByteArray("0"), QByteArray("\xff\xfe")}) {
        st.core->dispatcher().Dispatch("14x"); // something else first
        Station::drain();
        st.core->dispatcher().Dispatch(line);
        Station::drain();
        EXPECT_EQ(st.core->display().statusText, QStringLiteral("Comando desconocido"))
            << line.toStdString();
        EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    }
}

TEST(SessionLogic, ServerLockEndsTheSessionAndNoticeIsTrimmed) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    st.core->dispatcher().Dispatch("14   Hola  " + QByteArray(2000, 'x'));
    st.core->dispatcher().Dispatch("08");
    Station::drain();
    st.tick(1);
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    ASSERT_EQ(st.notice.notices.size(), 1);
    EXPECT_TRUE(st.notice.notices[0].startsWith("Hola"));
    EXPECT_LE(st.notice.notices[0].size(), 1024);
}

TEST(SessionLogic, ExitAsksThePasswordUnlessAShutdownIsPending) {
    Station st;
    st.start();
    st.password.answers << QString("nada") << std::nullopt << QString("mirlo");
    EXPECT_FALSE(st.core->CloseQuery());
    EXPECT_EQ(st.notice.notices, QStringList{"Clave incorrecta."});
    EXPECT_FALSE(st.core->CloseQuery());
    EXPECT_TRUE(st.core->CloseQuery());
    EXPECT_TRUE(st.service.calls.contains("pause ServiceZU"));

    Station sd;
    sd.start();
    sd.core->dispatcher().Dispatch("0360, R");
    Station::drain();
    EXPECT_EQ(sd.core->session().pendingShutdown(), QChar(u'R'));
    EXPECT_EQ(sd.core->display().statusText, QStringLiteral("ShutDown /R at 04/03/2024 10:01:00"));
    EXPECT_TRUE(sd.core->CloseQuery());
}

TEST(SessionLogic, CloseWritesSettingsBackAndSavesTheSession) {
    Station st;
    st.start();
    st.core->dispatcher().Dispatch("20NEWPW");
    Station::drain();
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    st.core->Close();
    EXPECT_EQ(st.registry
                  .readString(platform::Root::LocalMachine, "\\Software\\Velt\\Tarvina", "Password")
                  .value_or(""),
              "NEWPW");
    EXPECT_TRUE(ReadSessionFile(st.core->session().sessionFilePath(), nullptr).has_value());
}

TEST(SessionLogic, CompanionServiceIsResumedAtShowAndCheckedEveryMinute) {
    Station st;
    st.service.running = false;
    st.start();
    EXPECT_TRUE(st.service.calls.contains("resume ServiceZU"));
    st.service.calls.clear();
    st.service.running = false;
    st.tick(60);
    EXPECT_TRUE(st.service.calls.isEmpty());
    st.tick(1);
    EXPECT_EQ(st.service.calls, QStringList{"resume ServiceZU"});
}

TEST(SessionLogic, DispatchedValuesVolumeAndClockSetting) {
    Station st;
    st.start();
    st.core->dispatcher().Dispatch("3500FF8000");
    Station::drain();
    EXPECT_EQ(st.audio.current.left, 0x00FF);
    EXPECT_EQ(st.audio.current.right, 0x8000);
    st.core->dispatcher().Dispatch("35zz");
    Station::drain();
    EXPECT_EQ(st.audio.current.left, 0x00FF);
    st.core->dispatcher().Dispatch("0745355.5");
    st.core->dispatcher().Dispatch("07abc");
    Station::drain();
    EXPECT_EQ(st.timeSetter.set, QList<double>{45355.5});
    st.core->dispatcher().Dispatch("11 abc , def");
    Station::drain();
    EXPECT_EQ(st.core->session().sessionTag(), "abc");
    st.core->dispatcher().Dispatch("53 42");
    Station::drain();
    EXPECT_EQ(st.core->machine().memberId(), 42);
    st.core->dispatcher().Dispatch("37http://example.org/");
    Station::drain();
    EXPECT_EQ(st.shell.opened, QStringList{"http://example.org/"});
    st.core->dispatcher().Dispatch("42zz");
    Station::drain();
    EXPECT_EQ(st.core->lock().LockOpacity(), 255);
    st.core->dispatcher().Dispatch("4280");
    Station::drain();
    EXPECT_EQ(st.core->lock().LockOpacity(), 0x80);
    EXPECT_TRUE(st.core->display().lockLayered);
}

TEST(SessionLogic, LanguageFileAppliedAtFirstShowReplacesTheTexts) {
    Station st;
    st.writeFile("ESP.lng",
                 "[Interno]\r\nStrUnkComm=Unknown command\r\n"
                 "StrMinutesGranted=%d more minutes\r\n[Texto]\r\nlblDisponible=Left\r\n");
    st.start();
    EXPECT_EQ(st.core->display().dispCaption, QStringLiteral("Left"));
    st.core->dispatcher().Dispatch("7F");
    Station::drain();
    EXPECT_EQ(st.core->display().statusText, QStringLiteral("Unknown command"));
    AcceptNext(st);
    st.core->session().StartGrant({"30", "Ana", {}});
    st.core->dispatcher().Dispatch("065");
    Station::drain();
    EXPECT_EQ(st.notice.notices, QStringList{"5 more minutes"});
}

TEST(SessionLogic, HugeGrantFieldsAreBoundedAndOpacityWaitsForTheFirstShow) {
    Station st;
    st.start(false);
    st.core->lock().SetLockOpacity(10);
    EXPECT_EQ(st.core->lock().LockOpacity(), 255);
    st.core->setAutoConnect(false);
    st.core->Show();
    AcceptNext(st);
    st.core->dispatcher().Dispatch("04999999999999," + QByteArray(5000, 'u') + ",");
    Station::drain();
    EXPECT_EQ(st.core->session().user().size(), 255);
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    // An absurd grant is bounded, not overflowed: the session runs.
    st.tick(5);
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
}

namespace {
class BannerControl final : public MachineControl {
public:
    QList<Banner> list;
    int defaultDelay = 7;
    void onCommand(int, const QByteArray&, const QByteArray&, const SendFn&) override {}
    void onPosted(int, const SendFn&) override {}
    void attach(ControlHost*) override {}
    void loadBannerList() override {}
    QList<QByteArray> taskCaptions() override { return {"Terminal"}; }
    QList<Banner> banners() override { return list; }
    int defaultBannerDelay() override { return defaultDelay; }
    void recordTasks() override {}
    void applyWallpaper() override {}
};
} // namespace

TEST(SessionLogic, BannersRotateOnTheirDelaysWhileTheLockShows) {
    BannerControl control; // outlives the station attached to it
    Station st;
    st.writeFile("b1.gif", "GIF89a");
    st.writeFile("b2.png", "png");
    control.list = {{st.home.file("b1.gif"), 3}, {st.home.file("b2.png"), 0}};
    st.make(st.env(), &control);
    st.start();
    // The first banner's delay is 3 s: the change comes after more than 3 s.
    st.tick(3);
    EXPECT_EQ(st.core->display().bannerSerial, 0);
    st.tick(1);
    EXPECT_EQ(st.core->display().bannerFile, st.home.file("b2.png"));
    // The second's delay of 0 takes the default of 7 s.
    st.tick(7);
    EXPECT_EQ(st.core->display().bannerFile, st.home.file("b2.png"));
    st.tick(1);
    EXPECT_EQ(st.core->display().bannerFile, st.home.file("b1.gif"));
    EXPECT_EQ(st.core->display().bannerSerial, 2);

    // A due shutdown action goes to the system's power calls and closes.
    bool closed = false;
    QObject::connect(&st.core->view(), &StationView::closeRequested, [&] { closed = true; });
    st.core->dispatcher().Dispatch("032, C");
    Station::drain();
    st.tick(1);
    EXPECT_TRUE(st.power.calls.isEmpty());
    st.tick(1);
    EXPECT_EQ(st.power.calls, QStringList{"PowerOff"});
    EXPECT_TRUE(closed);
}

TEST(SessionLogic, ShutdownLettersReachThePowerCallsAndARefusalIsTriedAgain) {
    Station st;
    st.start();
    bool closed = false;
    QObject::connect(&st.core->view(), &StationView::closeRequested, [&] { closed = true; });
    st.power.refuse = true;
    st.core->dispatcher().Dispatch("035, A");
    Station::drain();
    st.tick(4);
    EXPECT_TRUE(st.power.calls.isEmpty());
    st.tick(1);
    EXPECT_EQ(st.power.calls, QStringList{"PowerOff"});
    EXPECT_FALSE(closed);
    st.power.refuse = false;
    st.tick(1);
    EXPECT_EQ(st.power.calls, QStringList({"PowerOff", "PowerOff"}));
    EXPECT_TRUE(closed);

    Station r;
    r.start();
    r.core->dispatcher().Dispatch("030, R");
    Station::drain();
    r.tick(1);
    EXPECT_EQ(r.power.calls, QStringList{"Reboot"});
    Station l;
    l.start();
    l.core->dispatcher().Dispatch("0310, L");
    l.core->dispatcher().Dispatch("031, N"); // cancels
    Station::drain();
    l.tick(12);
    EXPECT_TRUE(l.power.calls.isEmpty());
}

TEST(SessionLogic, LockHoldsInputAndTheServerKeysAGrantGivesThemBack) {
    Station st;
    st.start();
    const platform::WindowId lock = st.own.id(OwnWindow::Lock);
    const platform::WindowId main = st.own.id(OwnWindow::Main);
    // Shown at start: server keys off, the grab taken for the main window
    // (the code box lives there) and taken again by every tick.
    ASSERT_FALSE(st.windows.systemKeyCalls.isEmpty());
    EXPECT_TRUE(st.windows.systemKeyCalls.last());
    ASSERT_FALSE(st.windows.grabCalls.isEmpty());
    EXPECT_EQ(st.windows.grabCalls.last(), main);
    st.core->lock().HideMainWindow();
    st.windows.clearCalls();
    st.windows.foreground = lock;
    st.core->lock().EnforcementTick();
    EXPECT_EQ(st.windows.grabCalls, QList<platform::WindowId>{lock});

    // Accepted grant: grab released, keys back, no grab while in use.
    AcceptNext(st);
    st.windows.clearCalls();
    st.core->session().StartGrant({"30", "Ana", {}});
    EXPECT_EQ(st.core->session().state(), ClientState::InUse);
    ASSERT_FALSE(st.windows.grabCalls.isEmpty());
    EXPECT_EQ(st.windows.grabCalls.last(), 0u);
    EXPECT_FALSE(st.windows.systemKeyCalls.last());
    st.windows.clearCalls();
    st.windows.foreground = 999;
    st.core->lock().EnforcementTick();
    EXPECT_TRUE(st.windows.grabCalls.isEmpty());

    // The end of time locks everything again.
    st.tick(30 * 60 + 1);
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    ASSERT_FALSE(st.windows.grabCalls.isEmpty());
    EXPECT_NE(st.windows.grabCalls.last(), 0u);
    EXPECT_TRUE(st.windows.systemKeyCalls.last());
}

TEST(SessionLogic, ForeignWindowPushedBackBelowTheLockAndTheCodeBoxAboveIt) {
    Station st;
    st.start();
    st.windows.foregroundFollows = false;
    st.windows.windows[500] = {"xterm", "Terminal", true, false};
    st.windows.stacking = {st.own.id(OwnWindow::Lock), 500};
    st.windows.foreground = 500;
    st.windows.clearCalls();
    st.core->lock().EnforcementTick();
    // The lock comes to the front first, the main window (code box) last.
    const auto& fg = st.windows.foregroundCalls;
    ASSERT_GE(fg.size(), 2);
    EXPECT_EQ(fg.first(), st.own.id(OwnWindow::Lock));
    EXPECT_EQ(fg.last(), st.own.id(OwnWindow::Main));
    EXPECT_EQ(st.windows.raiseCalls.last(), st.own.id(OwnWindow::Main));
}

TEST(SessionLogic, GrantWithAPasswordThatIsNotHexIsRefusedNotOpened) {
    Station st;
    st.start();
    AcceptNext(st);
    st.core->dispatcher().Dispatch("0430,Ana,zz");
    Station::drain();
    EXPECT_TRUE(st.welcome.shown.isEmpty());
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    EXPECT_TRUE(st.core->display().lockVisible);
    // A blank field is no password, as before.
    st.core->dispatcher().Dispatch("0430,Ana, ");
    Station::drain();
    ASSERT_EQ(st.welcome.shown.size(), 1);
    EXPECT_FALSE(st.welcome.shown[0].askPassword);
}

TEST(SessionLogic, StoredOpacityIsTheLocksAndIsWrittenBackUnchanged) {
    Station st;
    st.registry.writeInteger(platform::Root::LocalMachine,
                             QStringLiteral("\\Software\\Velt\\Tarvina"),
                             QStringLiteral("AlphaBlend"), 120);
    st.start();
    EXPECT_EQ(st.core->lock().LockOpacity(), 120);
    EXPECT_TRUE(st.core->display().lockLayered);
    st.core->Close();
    EXPECT_EQ(st.registry
                  .readInteger(platform::Root::LocalMachine,
                               QStringLiteral("\\Software\\Velt\\Tarvina"),
                               QStringLiteral("AlphaBlend"))
                  .value_or(-1),
              120);
}

TEST(SessionLogic, CodeModeShowsTheCodeBoxAgainWhenASessionEnds) {
    Station st;
    st.start();
    st.core->dispatcher().Dispatch("401");
    Station::drain();
    AcceptNext(st);
    st.core->session().StartGrant({"1", "Ana", {}});
    EXPECT_FALSE(st.core->display().mainVisible);
    st.tick(61);
    EXPECT_EQ(st.core->session().state(), ClientState::Locked);
    EXPECT_TRUE(st.core->display().mainVisible);
    EXPECT_TRUE(st.core->display().pinPanelVisible);
}

TEST(SessionLogic, DesktopStepsAtStartAndClose) {
    Station st;
    st.registry.writeInteger(platform::Root::LocalMachine,
                             QStringLiteral("\\Software\\Velt\\Tarvina"),
                             QStringLiteral("GlbBarraInvisible"), 1);
    st.start();
    EXPECT_EQ(st.desktop.taskBarCalls, QList<bool>{true});
    EXPECT_EQ(st.desktop.screenSaverSuspends, 1);
    st.core->Close();
    EXPECT_EQ(st.desktop.taskBarCalls, QList<bool>({true, false}));
    EXPECT_EQ(st.desktop.screenSaverRestores, 1);
    EXPECT_EQ(st.windows.grabCalls.last(), 0u);
    EXPECT_FALSE(st.windows.systemKeyCalls.last());
}

TEST(SessionLogic, TwoLocksWithinAMinuteCheckMediaOnceAndAdPageAddress) {
    {
        // No advertising host configured: no page at all.
        Station none;
        none.start();
        none.core->dispatcher().Dispatch("54");
        Station::drain();
        EXPECT_TRUE(none.shell.opened.isEmpty());
    }
    Station st;
    st.registry.writeString(platform::Root::LocalMachine,
                            QStringLiteral("\\Software\\Velt\\Tarvina"),
                            QStringLiteral("PublicidadHost"), QStringLiteral("anuncios.example"));
    st.start();
    st.core->dispatcher().Dispatch("08");
    st.core->dispatcher().Dispatch("08");
    Station::drain();
    EXPECT_EQ(st.drives.mediaQueries, 1);
    st.clock.advanceSeconds(61);
    st.core->dispatcher().Dispatch("08");
    Station::drain();
    EXPECT_EQ(st.drives.mediaQueries, 2);

    st.core->dispatcher().Dispatch("5312");
    st.core->dispatcher().Dispatch("54");
    Station::drain();
    ASSERT_EQ(st.shell.opened.size(), 1);
    const QString url = st.shell.opened[0];
    const QString query = url.mid(url.indexOf(u'?'));
    EXPECT_TRUE(url.startsWith(QStringLiteral("http://anuncios.example/zu/newsite.php?")));
    EXPECT_TRUE(
        query.startsWith(QStringLiteral("?idsocio=12&mac=00%2D0C%2D29%2DAB%2DCD%2DEF&cmd=")))
        << url.toStdString();
    EXPECT_EQ(query.section(QStringLiteral("&cmd="), 1).size(), 32);
    // Opening the bare endpoint adds the country.
    st.core->dispatcher().Dispatch("37" + url.left(url.indexOf(u'?')).toLatin1());
    Station::drain();
    EXPECT_TRUE(st.shell.opened.last().endsWith(QStringLiteral("?pais=No%20definido")));
}

namespace {
// A tray that takes its time and then fails, as a drive without a disc
// mechanism does.
class SlowTray final : public platform::Drives {
public:
    std::atomic<bool> finished{false};
    QString cdDriveLetters() override { return QStringLiteral("D"); }
    QString lettersWithMedia() override { return {}; }
    bool setTray(QChar, bool, QString* error) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        *error = QStringLiteral("sin bandeja");
        finished = true;
        return false;
    }
};
} // namespace

TEST(SessionLogic, ClosingTheStationWaitsForAMovingTray) {
    Station st;
    SlowTray tray;
    const StationPlatform p{st.clock,       st.registry, st.windows, st.audio,
                            st.service,     st.shell,    tray,       st.timeSetter,
                            st.nullControl, st.own,      st.welcome, st.password,
                            st.notice,      st.power,    st.desktop, st.network};
    st.core = std::make_unique<StationCore>(st.env(), p);
    st.start();
    st.core->dispatcher().Dispatch("34D1");
    Station::drain();
    EXPECT_EQ(st.core->machine().trayThreads(), 1);
    // The tray thread logs its failure through the station: the station may
    // not go before it.
    st.core.reset();
    EXPECT_TRUE(tray.finished);
    QFile log(st.home.file(QString::fromLatin1(common::kClientExceptionLogName)));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("OpenCloseCD sin bandeja"));
}
