#include "platform/fake/FakeShell.h"
#include "protocol/DateTimeText.h"
#include "server/ComputersFixture.h"
#include "server/ui/computers/ComputerDialogs.h"
#include "server/ui/computers/ComputerPrompts.h"
#include "server/ui/computers/ComputersListModel.h"
#include "server/ui/computers/ComputersToolBar.h"
#include "server/ui/computers/TfrmComputers.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using F = TfrmComputers;

namespace {

// Texts of a menu's entries, "-" for a separator, "[name]" for a submenu
// and "(hidden)" after an entry that is not visible.
QStringList Layout(const QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) {
        QString t = a->isSeparator() ? QStringLiteral("-") : a->text();
        if (a->menu() != nullptr)
            t = "[" + t + "]";
        if (!a->isVisible())
            t += " (hidden)";
        out << t;
    }
    return out;
}

// Runs `step` on the next modal dialog of type D that opens (the action's
// exec()), looking for it every few milliseconds.
template <typename D> void OnNextModal(std::function<void(D*)> step) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, step] {
        auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
        if (d == nullptr || !d->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        step(d);
    });
    poll->start();
}

// Triggers an action and lets its queued work (and any dialog) run.
void Trigger(QAction* a) {
    a->trigger();
    QApplication::processEvents();
    QApplication::processEvents();
}

class ComputersViewTest : public test::ComputersFixture {
protected:
    ComputersViewTest() : view(core, shell) {
        view.resize(900, 500);
        view.show();
    }
    QString cell(TCompItem* r, int column) {
        const int src = core.computers().rowOf(r);
        return view.listModel()
            ->data(view.listModel()->mapFromSource(core.computers().index(src, column)),
                   Qt::DisplayRole)
            .toString();
    }
    QVariant role(TCompItem* r, int role) {
        const int src = core.computers().rowOf(r);
        return view.listModel()->data(
            view.listModel()->mapFromSource(core.computers().index(src, 0)), role);
    }
    platform::FakeShell shell;
    F view;
};

TEST_F(ComputersViewTest, ColumnsActionsMenusAndToolBar) {
    QAbstractItemModel* m = view.reportView()->model();
    QStringList headers;
    for (int i = 0; i < m->columnCount(); ++i)
        headers << m->headerData(i, Qt::Horizontal).toString();
    EXPECT_EQ(headers, QStringList({"Computadora", "Status", "Usuario", "Usado", "Restante",
                                    "Hora inicio", "Último uso"}));
    EXPECT_FALSE(view.action(F::Collect)->isVisible());
    // With a tariff: "Importe" and "Cobrar..."; without one again as before.
    core.computers().setAmountSource([](const QString&, bool, double) { return qint64(150); });
    view.UpdateActions();
    EXPECT_EQ(m->columnCount(), 8);
    EXPECT_EQ(m->headerData(7, Qt::Horizontal).toString(), QStringLiteral("Importe"));
    EXPECT_TRUE(view.action(F::Collect)->isVisible());
    core.computers().setAmountSource({});
    view.UpdateActions();
    EXPECT_EQ(m->columnCount(), 7);
    EXPECT_FALSE(view.action(F::Collect)->isVisible());
    view.applyCountry(QStringLiteral("España"));
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Ordenador"));
    EXPECT_EQ(view.caption(), QStringLiteral("Ordenadores bajo control"));

    EXPECT_EQ(view.action(F::Grant)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+A")));
    EXPECT_EQ(
        view.action(F::Refresh)->statusTip(),
        QStringLiteral("Actualiza la información del computador remoto  (conexión, hora, estado)"));
    EXPECT_TRUE(view.action(F::CleanTasks)->toolTip().contains("\n(sea cuidadoso"));
    EXPECT_TRUE(view.action(F::ClientLog)->toolTip().isEmpty() ||
                view.action(F::ClientLog)->toolTip() == view.action(F::ClientLog)->text());

    const QStringList row = Layout(view.rowMenu());
    EXPECT_EQ(row, QStringList({"Autorizar uso...",
                                "Desautorizar uso",
                                "Otorgar más tiempo...",
                                "Bloquear",
                                "Mover usuario...",
                                "Cobrar... (hidden)",
                                "-",
                                "Refrescar información",
                                "Reiniciar computador...",
                                "Capturar pantalla...",
                                "-",
                                "Mostar cuenta actual (hidden)",
                                "Mostrar última cuenta (hidden)",
                                "-",
                                "Ver tareas...",
                                "Limpiar tareas",
                                "-",
                                "Enviar mensaje al usuario...",
                                "Ver mensajes recibidos...",
                                "-",
                                "[Remoto]",
                                "Ver bitácora de uso..."}));
    QMenu* remote = view.rowMenu()->actions()[20]->menu();
    EXPECT_EQ(Layout(remote),
              QStringList({"Cambiar contraseña del programa cliente...", "Configuración remota...",
                           "Volumen del sonido...", "[CD ROM]", "Ejecutar programa...",
                           "Obtiene bitácora de fallas de cliente"}));

    // The main menu's copy: the same actions, its own submenus.
    QMenu machines(QStringLiteral("Máquinas"));
    machines.setEnabled(false);
    view.FillMachinesMenu(&machines);
    EXPECT_TRUE(machines.isEnabled());
    EXPECT_EQ(Layout(&machines), row);
    EXPECT_EQ(machines.actions()[0], view.action(F::Grant));
    EXPECT_NE(machines.actions()[20]->menu(), remote);
    EXPECT_EQ(Layout(machines.actions()[20]->menu()), Layout(remote));

    QStringList bar;
    for (QAction* a : view.tools().bar()->actions())
        bar << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(bar, QStringList({"Iconos grandes", "Iconos pequeños", "Lista", "Detalle", "-",
                                "Autorizar uso...", "Desautorizar uso", "Otorgar más tiempo...",
                                "Bloquear", "Mover usuario...", "-", "Ver tareas...",
                                "Limpiar tareas", "-", "Reiniciar computador...",
                                "Refrescar información", "Capturar pantalla...",
                                "Ver mensajes recibidos...", "Enviar mensaje al usuario..."}));
    EXPECT_EQ(view.tools().bar()->windowTitle(), QStringLiteral("ZU - Máquinas clientes"));

    // In the prepaid-code mode the cashier neither grants nor adds time.
    core.SetServiceMode(1);
    EXPECT_FALSE(view.action(F::Grant)->isVisible());
    EXPECT_FALSE(view.action(F::MoreTime)->isVisible());
    core.SetServiceMode(0);
    EXPECT_TRUE(view.action(F::Grant)->isVisible());
}

TEST_F(ComputersViewTest, SelectionEnablesActionsAndStateChangesFollow) {
    TCompItem* a = station("A", 1, "AA-00-00-00-00-01");
    TCompItem* b = station("B", 2, "AA-00-00-00-00-02");
    EXPECT_FALSE(view.action(F::Grant)->isEnabled());
    EXPECT_FALSE(view.action(F::UsageHistory)->isEnabled());
    view.selectRecord(a);
    EXPECT_TRUE(view.action(F::Grant)->isEnabled());
    EXPECT_FALSE(view.action(F::Lock)->isEnabled());
    EXPECT_TRUE(view.action(F::SendMessage)->isEnabled()) << "two rows in the list";
    EXPECT_TRUE(view.action(F::Run)->isEnabled());
    view.selectRecord(b, true);
    EXPECT_EQ(view.selectedRecords(), (QList<TCompItem*>{a, b}));
    EXPECT_TRUE(view.action(F::Grant)->isEnabled()) << "the first selected row decides";
    EXPECT_FALSE(view.action(F::Run)->isEnabled()) << "two rows selected";

    view.selectRecord(b);
    EXPECT_TRUE(view.action(F::Lock)->isEnabled());
    // The station reports locked: its label changes and the actions follow.
    set(b, [](TCompItem& r) { r.state = 1; });
    EXPECT_FALSE(view.action(F::Lock)->isEnabled());
    EXPECT_TRUE(view.action(F::Grant)->isEnabled());
    // A message arrives without a change of state.
    EXPECT_FALSE(view.action(F::ViewMessages)->isEnabled());
    set(b, [](TCompItem& r) {
        r.messages << QStringLiteral("hola");
        r.attention = true;
    });
    QApplication::processEvents();
    EXPECT_TRUE(view.action(F::ViewMessages)->isEnabled());
    EXPECT_EQ(role(b, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::blue));

    Trigger(view.action(F::ViewMessages));
    ASSERT_NE(view.prompts().lastTextWindow(), nullptr);
    EXPECT_EQ(view.prompts().lastTextWindow()->windowTitle(), QStringLiteral("Mensajes desde B"));
    auto* memo = view.prompts().lastTextWindow()->findChild<QPlainTextEdit*>();
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("hola"));
    EXPECT_TRUE(memo->isReadOnly());
    view.prompts().lastTextWindow()->close();
    // The look stays until the row's next update.
    EXPECT_EQ(role(b, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::blue));
    core.computers().updateRow(b);
    EXPECT_EQ(role(b, Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::black));

    // The CD ROM submenus follow the drives the station reported.
    set(b, [](TCompItem& r) { r.cdDrives = QStringLiteral("E"); });
    view.rowMenu()->popup(QPoint(0, 0));
    QMetaObject::invokeMethod(view.reportView(), "customContextMenuRequested",
                              Q_ARG(QPoint, QPoint(5, 5)));
    QMenu* cd = view.rowMenu()->actions()[20]->menu()->actions()[3]->menu();
    EXPECT_EQ(Layout(cd), QStringList({"Abre unidad E", "Cierra unidad E"}));
    EXPECT_TRUE(cd->isEnabled());
    view.rowMenu()->hide();
    Trigger(cd->actions()[0]);
    EXPECT_EQ(read(b), "34E1\r\n");
}

TEST_F(ComputersViewTest, ColoursTipsSortingAndHostileNames) {
    TCompItem* a = station("beta", 2, "AA-00-00-00-00-01");
    TCompItem* b = station("Alfa", 1, "AA-00-00-00-00-02");
    TCompItem* c = station("<b>gamma</b>", 4, "AA-00-00-00-00-03");
    TCompItem* d = station("delta", 3, "AA-00-00-00-00-04");
    EXPECT_EQ(role(a, Qt::BackgroundRole).value<QBrush>().color(), QColor(0, 255, 0));
    EXPECT_EQ(role(b, Qt::BackgroundRole).value<QBrush>().color(), QColor(128, 128, 128));
    EXPECT_EQ(role(c, Qt::BackgroundRole).value<QBrush>().color(), QColor(255, 255, 0));
    EXPECT_FALSE(role(d, Qt::BackgroundRole).isValid()) << "service: the list's own colour";
    core.settings().compColUse = 0xFF8040; // blue 0xFF, green 0x80, red 0x40
    view.applyColours();
    EXPECT_EQ(role(a, Qt::BackgroundRole).value<QBrush>().color(), QColor(0x40, 0x80, 0xFF));
    core.settings().compColUse = 65280;
    view.applyColours();
    EXPECT_FALSE(role(a, Qt::DecorationRole).value<QIcon>().isNull());

    const QString tip = role(c, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("&lt;b&gt;gamma&lt;/b&gt;")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Espera"));

    // Sorting by a header: ascending, then the same header reverses.
    set(a, [&](TCompItem& r) {
        r.start = clock.now().days() - 1.0 / 1440;
        r.end = clock.now().days() + 5.0 / 1440;
    });
    core.Tick();
    EXPECT_EQ(cell(a, 4), QStringLiteral("00:05:00"));
    EXPECT_EQ(cell(b, 4), QStringLiteral("N/A"));
    QHeaderView* header = view.reportView()->horizontalHeader();
    auto column = [&](int col) {
        QStringList out;
        for (int r = 0; r < view.listModel()->rowCount(); ++r)
            out << view.listModel()->index(r, col).data().toString();
        return out;
    };
    Q_EMIT header->sectionClicked(0);
    EXPECT_EQ(column(0), QStringList({"<b>gamma</b>", "Alfa", "beta", "delta"}));
    EXPECT_FALSE(view.listModel()->headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());
    Q_EMIT header->sectionClicked(0);
    EXPECT_EQ(column(0), QStringList({"delta", "beta", "Alfa", "<b>gamma</b>"}));
    Q_EMIT header->sectionClicked(4);
    EXPECT_EQ(column(4).first(), QStringLiteral("00:05:00")) << "N/A after running times";
    EXPECT_TRUE(view.listModel()->headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());

    // A row added after sorting stays at the end; a hostile name stays one
    // line of normal height.
    const QString hostile = QString(240, QChar(u'W')) + QStringLiteral("\r\n\x01") +
                            QString::fromUtf16(u"\u05E9\u05DC\u05D5\u05DD") +
                            QString(11, QChar(u'x'));
    TCompItem* e = station(hostile, 1, "AA-00-00-00-00-05");
    EXPECT_EQ(view.listModel()->index(4, 0).data().toString().size(), hostile.size());
    EXPECT_FALSE(cell(e, 0).contains(QLatin1Char('\n')));
    EXPECT_EQ(view.listModel()->mapToSource(view.listModel()->index(4, 0)).row(),
              core.computers().rowOf(e));
    EXPECT_EQ(view.reportView()->rowHeight(4), view.reportView()->rowHeight(0));
    EXPECT_TRUE(role(e, Qt::ToolTipRole).toString().contains(QChar(0x200B)))
        << "long runs may wrap";
}

TEST_F(ComputersViewTest, StylesTickAndToolBarSettings) {
    EXPECT_EQ(view.viewStyle(), F::ViewStyle::Report);
    EXPECT_TRUE(view.tickRunning());
    view.tools().bar()->actions()[0]->trigger();
    EXPECT_EQ(view.viewStyle(), F::ViewStyle::LargeIcons);
    EXPECT_FALSE(view.tickRunning());
    EXPECT_TRUE(view.iconView()->isVisible());
    EXPECT_FALSE(view.reportView()->isVisible());
    view.tools().bar()->actions()[2]->trigger();
    EXPECT_EQ(view.viewStyle(), F::ViewStyle::List);
    EXPECT_TRUE(view.tools().bar()->actions()[2]->isChecked());
    EXPECT_FALSE(view.tools().bar()->actions()[0]->isChecked());
    view.tools().bar()->actions()[3]->trigger();
    EXPECT_TRUE(view.tickRunning());
    EXPECT_TRUE(view.reportView()->isVisible());

    for (int align : {3, 2, 4, 1, 0}) {
        view.tools().setAlign(align);
        EXPECT_EQ(view.tools().align(), align);
        EXPECT_EQ(core.settings().toolBarAlign, align);
    }
    EXPECT_TRUE(view.tools().dock()->isFloating());
    EXPECT_EQ(view.tools().dock()->windowTitle(), QStringLiteral("ZU - Máquinas clientes"));
    view.tools().setAlign(3);
    EXPECT_EQ(view.tools().bar()->orientation(), Qt::Vertical);
    view.tools().setAlign(5);
    EXPECT_EQ(view.tools().align(), 1) << "fill docks at the top";

    // Dragging the grip over the frame: the diagonals choose the side.
    view.tools().setAlign(1);
    QApplication::processEvents();
    QWidget* grip = view.tools().dock()->titleBarWidget();
    ASSERT_NE(grip, nullptr);
    QWidget* area = view.reportView()->parentWidget()->parentWidget();
    auto drag = [&](QPoint inArea) {
        const QPoint to = grip->mapFromGlobal(area->mapToGlobal(inArea));
        QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseMove(grip, to);
        QTest::mouseRelease(grip, Qt::LeftButton, {}, to);
        QApplication::processEvents();
    };
    drag(QPoint(10, area->height() * 3 / 4));
    EXPECT_EQ(view.tools().align(), 3);
    EXPECT_EQ(core.settings().toolBarAlign, 3);
    grip = view.tools().dock()->titleBarWidget();
    drag(QPoint(area->width() / 2, area->height() - 5));
    EXPECT_EQ(view.tools().align(), 2);
    grip = view.tools().dock()->titleBarWidget();
    drag(QPoint(area->width() / 2, 5));
    EXPECT_EQ(view.tools().align(), 1);

    view.tools().setFlat(false);
    EXPECT_EQ(core.settings().toolBarFlat, 0);
    view.tools().setFlat(true);
    EXPECT_EQ(core.settings().toolBarFlat, 1);
    view.tools().setPicture(dir.path() + "/missing.bmp");
    EXPECT_EQ(core.settings().toolBarWallPaper, dir.path() + "/missing.bmp");
    EXPECT_FALSE(view.tools().hasPicture());

    // The chosen picture becomes "fondo.bmp", which a view made later (the
    // next start) shows even when the original file is gone; the default
    // takes it away for good.
    QImage img(6, 6, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(dir.path() + "/papel.jpg", "JPEG"));
    view.tools().setPicture(dir.path() + "/papel.jpg");
    EXPECT_TRUE(view.tools().hasPicture());
    EXPECT_TRUE(QFile::exists(dir.path() + "/fondo.bmp"));
    QFile::remove(dir.path() + "/papel.jpg");
    {
        F next(core, shell);
        EXPECT_TRUE(next.tools().hasPicture());
    }
    view.tools().setPicture(QString());
    EXPECT_FALSE(QFile::exists(dir.path() + "/fondo.bmp"));

    // "Mostrar barra de herramientas" off and on.
    view.tools().setVisible(false);
    EXPECT_FALSE(view.tools().dock()->isVisible());
    view.tools().setVisible(true);
    EXPECT_TRUE(view.tools().dock()->isVisible());
}

TEST_F(ComputersViewTest, ToolBarStartsWhereTheSettingsSay) {
    core.settings().toolBarAlign = 3;
    core.settings().toolBarFlat = 0;
    F other(core, shell);
    other.resize(800, 500);
    other.show();
    QApplication::processEvents();
    EXPECT_EQ(other.tools().align(), 3);
    EXPECT_EQ(other.tools().bar()->orientation(), Qt::Vertical);
    EXPECT_GT(other.tools().bar()->height(), other.tools().bar()->width());
    EXPECT_FALSE(other.tools().flat());
}

TEST_F(ComputersViewTest, GrantMoreTimeAndMoveThroughTheirDialogs) {
    TCompItem* a = station("PC1", 1, "AA-00-00-00-00-01");
    TCompItem* b = station("PC2", 1, "AA-00-00-00-00-02");
    const QByteArray sync = "07" + protocol::FormatDateTimeNumber(clock.now().days()) + "\r\n";
    view.selectRecord(a);

    // Empty minutes are refused with the dialog's own box; then "30".
    QStringList refusals;
    QObject::connect(view.prompts().grantDialog(), &TfrmAutoriza::refused,
                     [&](const QString& t) { refusals << t; });
    OnNextModal<TfrmAutoriza>([&](TfrmAutoriza* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Autoriza acceso a cliente"));
        EXPECT_EQ(d->userEdit()->text(), QStringLiteral("<Gen>"));
        d->userEdit()->setText(QStringLiteral("Ana"));
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        d->okButton()->click();
        EXPECT_TRUE(d->isVisible());
        d->timeBox()->setEditText(QStringLiteral("30"));
        d->okButton()->click();
    });
    Trigger(view.action(F::Grant));
    EXPECT_EQ(refusals, QStringList{"Faltan campos por seleccionar"});
    EXPECT_EQ(read(a), sync + "0430,Ana,\r\n0A1,15,30,60\r\n");

    // More time with the box cleared is silent.
    set(a, [](TCompItem& r) { r.state = 2; });
    view.selectRecord(a);
    OnNextModal<TfrmMoreTime>([](TfrmMoreTime* d) {
        EXPECT_EQ(d->timeBox()->currentText(), QStringLiteral("30"));
        EXPECT_TRUE(d->notifyBox()->isChecked());
        d->timeBox()->setEditText(QString());
        EXPECT_FALSE(d->okButton()->isEnabled());
        d->timeBox()->setEditText(QStringLiteral("15"));
        d->notifyBox()->setChecked(false);
        d->okButton()->click();
    });
    Trigger(view.action(F::MoreTime));
    EXPECT_EQ(read(a), "5015\r\n");

    // Moving offers the locked computers only; OK waits for a click.
    set(a, [&](TCompItem& r) { r.end = clock.now().days() + 10.0 / 1440; });
    OnNextModal<TfrmSelTargetComp>([](TfrmSelTargetComp* d) {
        ASSERT_EQ(d->list()->count(), 1);
        EXPECT_EQ(d->list()->item(0)->text(), QStringLiteral("PC2"));
        EXPECT_FALSE(d->okButton()->isEnabled());
        const QRect at = d->list()->visualItemRect(d->list()->item(0));
        QTest::mouseClick(d->list()->viewport(), Qt::LeftButton, {}, at.center());
        EXPECT_TRUE(d->okButton()->isEnabled());
        d->okButton()->click();
    });
    Trigger(view.action(F::Move));
    EXPECT_EQ(read(a), "08\r\n");
    EXPECT_EQ(read(b), "49\r\n0410,,\r\n0A1,15,30,60\r\n");

    // Lock: "08" then the clock.
    set(a, [](TCompItem& r) { r.state = 2; });
    view.selectRecord(a);
    Trigger(view.action(F::Lock));
    EXPECT_EQ(read(a), "08\r\n" + sync);
}

TEST_F(ComputersViewTest, NoticePasswordShutdownRunVolumeAndClientLog) {
    TCompItem* a = station("PC1", 2, "AA-00-00-00-00-01");
    TCompItem* b = station("PC2", 1, "AA-00-00-00-00-02");
    view.selectRecord(a);
    view.selectRecord(b, true);
    view.prompts().noticeBox = [] { return std::optional<QString>(QStringLiteral("Hola")); };
    Trigger(view.action(F::SendMessage));
    EXPECT_EQ(read(a), "14Hola\r\n");
    EXPECT_EQ(read(b), "");

    OnNextModal<TfrmReset>([](TfrmReset* d) {
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Apagar equipos"));
        EXPECT_TRUE(d->modeButton(0)->isChecked());
        d->secondsBox()->setValue(45);
        d->modeButton(1)->setChecked(true);
        d->accept();
    });
    Trigger(view.action(F::Restart));
    EXPECT_EQ(read(a), "0345, R\r\n");
    EXPECT_EQ(read(b), "0345, R\r\n");

    view.selectRecord(a);
    OnNextModal<TfrmServPass>([](TfrmServPass* d) {
        EXPECT_TRUE(d->passwordEdit()->text().isEmpty());
        EXPECT_EQ(d->passwordEdit()->echoMode(), QLineEdit::Password);
        d->passwordEdit()->setText(QStringLiteral("abc"));
        d->againEdit()->setText(QStringLiteral("abd"));
        QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        d->accept();
        EXPECT_TRUE(d->isVisible()) << "different passwords keep the dialog open";
        d->againEdit()->setText(QStringLiteral("abc"));
        d->accept();
    });
    Trigger(view.action(F::ServicePassword));
    EXPECT_EQ(read(a).left(2), "20");

    // The run dialog keeps its computer when the selection moves on.
    Trigger(view.action(F::Run));
    TfrmRun* run = view.prompts().runDialog();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->windowTitle(), QStringLiteral("Ejecutar en PC1"));
    EXPECT_FALSE(run->isModal());
    view.selectRecord(b);
    run->commandBox()->setEditText(QStringLiteral("notepad"));
    run->accept();
    EXPECT_EQ(read(a), "37notepad\r\n");
    EXPECT_EQ(read(b), "");
    EXPECT_EQ(run->commandBox()->count(), 1);

    view.selectRecord(a);
    Trigger(view.action(F::Volume));
    EXPECT_EQ(read(a), "36\r\n");
    core.hooks().volume(a, 40, 60);
    TfrmVol* vol = view.prompts().volumeDialog();
    EXPECT_TRUE(vol->isVisible());
    EXPECT_EQ(vol->leftSlider()->value(), 40);
    EXPECT_EQ(vol->rightSlider()->value(), 60);
    vol->leftSlider()->setValue(100);
    EXPECT_EQ(vol->rightSlider()->value(), 100) << "both channels together";
    EXPECT_EQ(read(a), "35FFFFFFFF\r\n") << "a step from the keyboard goes at once";
    // A drag goes once, when the slider is let go.
    vol->leftSlider()->setSliderDown(true);
    vol->leftSlider()->setValue(50);
    vol->leftSlider()->setValue(60);
    EXPECT_EQ(read(a), "");
    vol->leftSlider()->setSliderDown(false);
    EXPECT_EQ(read(a), "3599849984\r\n");

    Trigger(view.action(F::ClientLog));
    EXPECT_EQ(read(a), "51\r\n");
    EXPECT_TRUE(shell.opened.isEmpty()) << "opened a second later, not at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shell.opened.isEmpty(); }, 30000));
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_TRUE(shell.opened[0].endsWith("/PC1.log"));
}

} // namespace
