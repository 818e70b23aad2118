// taquilla's codes, code history and preferences pages driven through their
// widgets, offscreen, over real tables, a memory registry and a printing
// double: a batch of codes with its tickets and list rows, the history seek
// by prefix, a save of the preferences that the next start reads back, the
// tax-id mask keeping the page open, the mode switch and its "PIN" menu, the
// first-run jump, a codes table broken under the open page, and the jump from
// a code to its computer in the sorted computers list.

#include "platform/fake/FakeClock.h"
#include "platform/fake/FakePrinting.h"
#include "platform/fake/FakeShell.h"
#include "platform/fake/MemoryRegistry.h"
#include "platform/linux/TcpNetwork.h"
#include "server/pin/PinRuntime.h"
#include "server/pin/TableOps.h"
#include "server/pin/Ticket.h"
#include "server/shell/ServerCore.h"
#include "server/ui/MainWindow.h"
#include "server/ui/computers/ComputersListModel.h"
#include "server/ui/computers/TfrmComputers.h"
#include "server/ui/computers/ToolBarPicture.h"
#include "server/ui/pages/InstallPages.h"
#include "server/ui/pages/TaquillaPages.h"
#include "server/ui/pages/WindowsColour.h"
#include "support/TempDir.h"
#include "xbase/PosixFileSystem.h"
#include "xbase/TableEngine.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;
using namespace tarvina::server::ui;

namespace {

// Answers every message box the pages open, keeping its text.
class BoxCatcher {
public:
    BoxCatcher() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->windowTitle() + ": " + box->text();
                box->accept();
            }
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

QString ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}

class Pages : public ::testing::Test {
protected:
    Pages() {
        TableOps::CreateTablesAtLoad(xbase::RealFileSystem(), env.home());
        core = std::make_unique<ServerCore>(clock, store, network, env.home(), env.home());
        core->setPort(0);
        core->startUp();
        const QStringList failures = runtime.start(*core, env.home(), clock.now());
        EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
        window.resize(900, 600);
        pages = std::make_unique<TaquillaPages>(*core, runtime, store, printing, &window);
        pages->showFrame = [this](QWidget* frame) {
            for (QWidget* f : {static_cast<QWidget*>(pages->codesFrame()),
                               static_cast<QWidget*>(pages->historyFrame()),
                               static_cast<QWidget*>(pages->preferencesFrame())}) {
                f->setVisible(f == frame);
            }
            frame->setGeometry(0, 0, 900, 600);
            shown = frame;
        };
        pages->showComputer = [this](int row) { computerRows << row; };
        window.show();
    }
    ~Pages() override {
        pages.reset();
        runtime.close();
        core.reset();
    }

    test::ScopedTarvinaEnv env;
    platform::FakeClock clock; // 15 January 2024, 10:00
    platform::MemoryRegistry store;
    platform::TcpNetwork network;
    platform::FakePrinting printing;
    std::unique_ptr<ServerCore> core;
    PinRuntime runtime{xbase::RealFileSystem()};
    QWidget window;
    std::unique_ptr<TaquillaPages> pages;
    QWidget* shown = nullptr;
    QList<int> computerRows;
    BoxCatcher boxes;
};

// Every control an operator acts on answers to its caption.
void ExpectNamedControls(QWidget* frame) {
    const auto widgets = frame->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                             qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                             qobject_cast<QAbstractItemView*>(w);
        if (!control || qobject_cast<QLineEdit*>(w->parentWidget()) ||
            qobject_cast<QComboBox*>(w->parentWidget()) ||
            qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
            w->parentWidget()->inherits("QAbstractScrollArea") ||
            w->inherits("QTableCornerButton") || w->inherits("QComboBoxListView") ||
            qobject_cast<QHeaderView*>(w)) {
            continue;
        }
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->text(QAccessible::Name).trimmed().isEmpty())
            << frame->objectName().toStdString() << ": " << w->metaObject()->className();
    }
}

} // namespace

TEST_F(Pages, BatchOfCodesPrintsEachTicketAndListsEachCode) {
    core->settings().rawMode = true;
    core->settings().prnTicket = 1;
    core->settings().denominacion = QStringLiteral("Ciber Ñandú");
    printing.printers = {"Oficina", "Ticket"};
    pages->showCodesFrame();
    TPinFrame* f = pages->codesFrame();
    ASSERT_EQ(shown, f);
    ExpectNamedControls(f);

    // The button follows the time typed.
    f->CmbTime->setEditText("abc");
    EXPECT_FALSE(f->BtnCreaPIN->isEnabled());
    f->CmbTime->setEditText("");
    QTest::keyClicks(f->CmbTime->lineEdit(), "30");
    EXPECT_TRUE(f->BtnCreaPIN->isEnabled());
    f->SECnt->setValue(10);
    EXPECT_TRUE(f->ChkPrint->isChecked());
    QTest::mouseClick(f->BtnCreaPIN, Qt::LeftButton);

    // Ten distinct codes in the table, found through its "PIN" tag.
    xbase::TableEngine reader(xbase::RealFileSystem());
    reader.Open(QFile::encodeName(runtime.dataFolder() + "/CajaPIN.dbf").toStdString(), false);
    reader.SetOrder("PIN");
    QStringList codes;
    for (reader.First(); !reader.Eof(); reader.Next()) {
        codes << QString::fromStdString(reader.GetString("PIN"));
        EXPECT_EQ(reader.GetInteger("SALDO"), 30);
    }
    ASSERT_EQ(codes.size(), 10);
    EXPECT_EQ(QSet<QString>(codes.begin(), codes.end()).size(), 10);

    // A ticket each, byte for byte, on the chosen printer.
    ASSERT_EQ(printing.jobs.size(), 10);
    const TicketSettings ts = TicketSettingsFrom(core->settings());
    for (const auto& job : printing.jobs) {
        EXPECT_EQ(job->printer, "Ticket");
        EXPECT_TRUE(job->finished);
        const QString pin = QString::fromLatin1(job->data.mid(job->data.indexOf("PIN: ") + 5, 6));
        EXPECT_TRUE(codes.contains(pin));
        QByteArray expected = "\x0f\r";
        for (const QByteArray& line : BuildTicket(ts, TicketCode{pin, 30, QDate(2024, 1, 15)})) {
            expected += line + "\r\n";
        }
        expected += "\r\n\r\n\f\r";
        EXPECT_EQ(job->data, expected);
    }
    // And a row each in the day's list on disk.
    const QString list = ReadFile(env.home() + "/pin/15012024.html");
    for (const QString& c : codes) {
        EXPECT_TRUE(list.contains("                  " + c + "\r\n")) << c.toStdString();
    }
    EXPECT_TRUE(list.endsWith("</HTML>\r\n"));

    // The grid shows the new codes with the last one current.
    EXPECT_GE(f->gridModel().rowCount(), 10);
    EXPECT_EQ(f->gridModel().data(f->gridModel().index(f->gridModel().currentRow(), 1)), "30");
    EXPECT_FALSE(f->MnuGoConn->isEnabled()); // not in use

    // Reprint from the menu: one more ticket, of the current code.
    f->ImprimeticketconPIN1->trigger();
    EXPECT_EQ(printing.jobs.size(), 11);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("\n").toStdString();
}

TEST_F(Pages, PrintFailuresSpeakSpanishAndLoseNoCode) {
    core->settings().rawMode = false;
    printing.unopenablePorts = {"LPT1"};
    pages->showCodesFrame();
    TPinFrame* f = pages->codesFrame();
    f->CmbTime->setEditText("15");
    f->SECnt->setValue(2);
    f->BtnCreaPINClick();
    EXPECT_EQ(boxes.texts, QStringList({"Error: Falla de puerto de impresión",
                                        "Error: Falla de puerto de impresión"}));
    xbase::TableEngine reader(xbase::RealFileSystem());
    reader.Open(QFile::encodeName(runtime.dataFolder() + "/CajaPIN.dbf").toStdString(), false);
    EXPECT_EQ(reader.RecordCount(), 2u);

    // A printer gone between the listing and the print.
    boxes.texts.clear();
    core->settings().rawMode = true;
    printing.printers = {"Ticket"};
    printing.refusedPrinters = {"Ticket"};
    f->ImprimeticketconPIN1Click();
    EXPECT_EQ(boxes.texts, QStringList{"Error: No fue posible obtener acceso a la impresora"});
}

TEST_F(Pages, ViewConnectionFollowsTheComputerUsingTheCode) {
    TCompItem* pc = nullptr;
    {
        ComputersGuard guard(core->registry().lock());
        pc = core->registry().addRecord("10.0.0.7", "00-11-22-33-44-55");
        pc->mac = "00-11-22-33-44-55";
        pc->row = 0;
    }
    pages->showCodesFrame();
    TPinFrame* f = pages->codesFrame();
    f->CmbTime->setEditText("60");
    f->ChkPrint->setChecked(false);
    f->BtnCreaPINClick();
    xbase::TableEngine& t = f->tbPin();
    t.Edit();
    t.SetDate("CFECHA", xbase::Date{2024, 1, 15});
    t.SetString("CHORA", "10:00:00");
    t.SetString("MAC", "00-11-22-33-44-55");
    t.Post();
    t.Commit();
    f->refreshGrid();
    EXPECT_TRUE(f->MnuGoConn->isEnabled());
    EXPECT_TRUE(f->gridModel().marked(f->gridModel().currentRow()));
    f->MnuGoConn->trigger();
    t.Edit();
    t.SetString("MAC", "AA-AA-AA-AA-AA-AA");
    t.Post();
    t.Commit();
    f->MnuGoConn->trigger();
    EXPECT_EQ(computerRows, (QList<int>{0, -1}));
}

// In the main window the jump selects that computer's row of the computers
// list, by record and not by position, since the operator may have sorted it.
TEST_F(Pages, ViewConnectionSelectsTheComputerInTheSortedList) {
    MainWindow main(*core);
    platform::FakeShell shell;
    auto* computers = new TfrmComputers(*core, shell, &main);
    main.setPage(MainWindow::PageId::Computers, computers);
    InstallPages(main, *pages);
    QList<TCompItem*> records;
    for (const char* name : {"beta", "Alfa", "gamma"}) {
        const QString mac =
            QStringLiteral("00-11-22-33-44-%1").arg(records.size(), 2, 10, QChar('0'));
        TCompItem* r = nullptr;
        {
            ComputersGuard guard(core->registry().lock());
            r = core->registry().addRecord(QStringLiteral("10.0.0.%1").arg(records.size() + 1),
                                           mac);
            r->name = QString::fromLatin1(name);
            r->mac = mac;
        }
        core->context().handoff.post({UiEvent::Kind::RowAdded, r});
        core->drainHandOff();
        records << r;
    }
    // By name: Alfa, beta, gamma; "beta" is row 0 only in the registry.
    Q_EMIT computers->reportView()->horizontalHeader()->sectionClicked(0);
    ComputersListModel* list = computers->listModel();
    ASSERT_EQ(list->index(0, 0).data().toString(), QStringLiteral("Alfa"));

    pages->showCodesFrame();
    TPinFrame* f = pages->codesFrame();
    f->CmbTime->setEditText("60");
    f->ChkPrint->setChecked(false);
    f->BtnCreaPINClick();
    xbase::TableEngine& t = f->tbPin();
    auto useBy = [&](const QString& mac) {
        t.Edit();
        t.SetDate("CFECHA", xbase::Date{2024, 1, 15});
        t.SetString("CHORA", "10:00:00");
        t.SetString("MAC", mac.toStdString());
        t.Post();
        t.Commit();
        f->refreshGrid();
    };
    auto selected = [&] {
        QStringList names;
        for (const QModelIndex& i : computers->reportView()->selectionModel()->selectedRows())
            names << i.data().toString();
        return names.join(',').toStdString();
    };
    useBy(records[0]->mac);
    f->MnuGoConn->trigger();
    EXPECT_EQ(main.currentPage(), MainWindow::PageId::Computers);
    EXPECT_EQ(selected(), "beta");
    EXPECT_EQ(computers->reportView()->currentIndex().row(), 1);

    // A computer the list does not know leaves nothing selected.
    useBy(QStringLiteral("AA-AA-AA-AA-AA-AA"));
    f->MnuGoConn->trigger();
    EXPECT_EQ(selected(), "");
}

TEST_F(Pages, ABrokenCodesTableIsReportedOnThePage) {
    pages->showCodesFrame();
    TPinFrame* f = pages->codesFrame();
    f->CmbTime->setEditText("30");
    f->ChkPrint->setChecked(false);
    f->BtnCreaPINClick();
    ASSERT_TRUE(f->ErrorLabel->isHidden());
    {
        QFile file(runtime.dataFolder() + "/CajaPIN.dbf");
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(40));
    }
    QTest::mouseClick(f->Navigator->button(4), Qt::LeftButton);
    EXPECT_FALSE(f->ErrorLabel->isHidden());
    EXPECT_TRUE(f->ErrorLabel->text().startsWith("No se pudo leer la tabla de PINs"));
    EXPECT_EQ(f->gridModel().rowCount(), 0);
    // The other pages still work.
    pages->historyAction()->trigger();
    EXPECT_EQ(shown, pages->historyFrame());
}

TEST_F(Pages, HistoryShowsTheFirstRowOfTheTypedPrefix) {
    PinCodes& codes = runtime.desk()->codes();
    const auto start = clock.now();
    codes.RegConsumo(PinCodes::HistoryKind::Assignment, "0B12C4", start, 30);
    codes.RegConsumo(PinCodes::HistoryKind::Assignment, "ABC123", start, 60);
    codes.RegConsumo(PinCodes::HistoryKind::Consumption, "ABC123", start, 12);
    codes.RegConsumo(PinCodes::HistoryKind::Assignment, "ABD000", start, 15);
    pages->historyAction()->trigger();
    TFrameHistoPIN* h = pages->historyFrame();
    ASSERT_EQ(shown, h);
    ExpectNamedControls(h);
    QTest::keyClicks(h->EdPin, "abc");
    TableWindow& m = h->gridModel();
    ASSERT_GE(m.currentRow(), 0);
    EXPECT_EQ(m.data(m.index(m.currentRow(), 0)), "ABC123");
    EXPECT_EQ(m.data(m.index(m.currentRow(), 1)), "60");
    EXPECT_EQ(m.data(m.index(m.currentRow(), 2)), ""); // no consumption on an assignment row
    EXPECT_EQ(m.data(m.index(m.currentRow() + 1, 2)), "12");
    EXPECT_EQ(m.headerData(2, Qt::Horizontal), "Consumido");
}

TEST_F(Pages, PreferencesSavedInOrderAreReadAtTheNextStart) {
    pages->preferencesAction()->trigger();
    TFramePref* p = pages->preferencesFrame();
    ASSERT_EQ(shown, p);
    ExpectNamedControls(p);
    ASSERT_TRUE(p->selectNode("empresa"));
    EXPECT_EQ(p->currentPageTitle(), "Identificación de la empresa");
    p->EdDenominacion->setText("Ciber Ñandú C.A.");
    p->EdDir[0]->setText("Av. Bolívar 5");
    p->EdDir[1]->setText("Local 2");
    p->EdDir[2]->setText("Mérida");
    p->EdTelefono->setText("0274-5551234");
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("\n").toStdString();
    // The orderly close stores them; the next start reads them.
    ASSERT_TRUE(SaveSettings(store, core->settings(), clock.now().days()));
    const ServerSettings next = LoadSettings(store);
    EXPECT_EQ(next.denominacion, "Ciber Ñandú C.A.");
    EXPECT_EQ(next.dir1, "Av. Bolívar 5");
    EXPECT_EQ(next.dir2, "Local 2");
    EXPECT_EQ(next.dir3, "Mérida");
    EXPECT_EQ(next.telefono, "0274-5551234");
    core->applySettings(next);
    p->ShowPreferences();
    EXPECT_EQ(p->EdDenominacion->text(), "Ciber Ñandú C.A.");
}

TEST_F(Pages, TaxNumberOutsideItsMaskKeepsThePageOpen) {
    pages->preferencesAction()->trigger();
    TFramePref* p = pages->preferencesFrame();
    p->selectNode("Regional");
    p->CmbPais->setCurrentIndex(CountryIndex("Argentina"));
    // The label and mask change at once, and Registro with them.
    EXPECT_EQ(p->LblTaxId->text(), "C.U.I.T.");
    EXPECT_EQ(p->EdRegistro->text(), "C.U.I.T.");
    EXPECT_EQ(core->settings().registro, "C.U.I.T.");
    p->selectNode("Empresa");
    p->EdRif->setFocus();
    p->EdRif->home(false);
    QTest::keyClicks(p->EdRif, "20x");
    EXPECT_FALSE(p->LblTaxIdError->isHidden()); // the letter was refused while typing
    EXPECT_TRUE(p->LblTaxIdError->text().startsWith("El texto no corresponde al formato"));
    EXPECT_FALSE(p->ApplyPreferences());
    EXPECT_EQ(boxes.texts.value(0),
              "Error: Hay un error en texto escrito. No corresponde al formato esperado.");
    EXPECT_EQ(p->currentPageTitle(), "Identificación de la empresa");
    EXPECT_TRUE(core->settings().rif.isEmpty());
    QTest::keyClicks(p->EdRif, "123456783");
    EXPECT_TRUE(p->ApplyPreferences());
    EXPECT_EQ(core->settings().rif, "20-12345678-3");
    EXPECT_EQ(core->settings().pais, "Argentina");
}

TEST_F(Pages, ModeSwitchAndTheFirstRunOpensTheModePage) {
    int announced = -1;
    QObject::connect(core.get(), &ServerCore::serviceModeChanged,
                     [&](int mode) { announced = mode; });
    core->hooks().firstRunJump();
    TFramePref* p = pages->preferencesFrame();
    ASSERT_EQ(shown, p);
    EXPECT_EQ(p->currentPageTitle(), "Modo de servicio");
    EXPECT_TRUE(p->RbModeRequest->isChecked());
    p->RbModePin->setChecked(true);
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_EQ(core->settings().serviceMode, 1);
    EXPECT_EQ(announced, 1); // the window's "PIN" menu follows this signal
    // The log limit goes to the store at once; the unit only relabels.
    p->selectNode("Misceláneos");
    p->SpLogLimit->setValue(3);
    p->RbUnit[1]->click();
    EXPECT_EQ(p->LblUnit->text(), "Kbytes");
    p->ApplyPreferences();
    EXPECT_EQ(StoredLogLimit(store), 3072);
    EXPECT_EQ(p->SpLogLimit->value(), 3);
    EXPECT_EQ(p->LblUnit->text(), "Kbytes");
}

TEST(ToolBarPicture, ConvertedToFondoBmpByItsExtension) {
    test::TempDir dir;
    QImage img(8, 4, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 255));
    ASSERT_TRUE(img.save(dir.file("papel.JPG"), "JPEG"));
    EXPECT_TRUE(ConvertToolBarWallPaper(dir.file("papel.JPG"), dir.path()));
    const QPixmap loaded = LoadToolBarPicture(dir.path());
    ASSERT_FALSE(loaded.isNull());
    EXPECT_EQ(loaded.size(), QSize(8, 4));
    // A JPEG named as a bitmap is read as a bitmap, and refused.
    QFile::copy(dir.file("papel.JPG"), dir.file("otro.bmp"));
    EXPECT_FALSE(ConvertToolBarWallPaper(dir.file("otro.bmp"), dir.path()));
    EXPECT_FALSE(ConvertToolBarWallPaper(dir.file("falta.gif"), dir.path()));
    EXPECT_FALSE(ConvertToolBarWallPaper(QString(), dir.path()));
    // Stored colours: 0x00BBGGRR, system colours from the palette.
    const QPalette pal;
    EXPECT_EQ(ColourFromWindows(0x0000FF, pal), QColor(255, 0, 0));
    EXPECT_EQ(ColourFromWindows(0x800000, pal), QColor(0, 0, 128));
    EXPECT_EQ(ColourFromWindows(kSystemColourFlag | 5, pal), pal.color(QPalette::Base));
}

TEST_F(Pages, SecurityPageGeneratesAKeyStoresItAtOnceAndTheListenerTakesIt) {
    pages->preferencesAction()->trigger();
    TFramePref* p = pages->preferencesFrame();
    ASSERT_TRUE(p->selectNode("Seguridad"));
    EXPECT_EQ(p->currentPageTitle(), "Seguridad de la conexión con los puestos");
    EXPECT_TRUE(p->EdClaveRed->text().isEmpty());
    EXPECT_TRUE(p->RbRedSegura[0]->isChecked());
    // An encrypted mode without a key is refused.
    p->RbRedSegura[2]->setChecked(true);
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(core->settings().redSegura, 0);

    QTest::mouseClick(p->BtnGenerarClave, Qt::LeftButton);
    const QString key = p->EdClaveRed->text();
    EXPECT_TRUE(
        QRegularExpression("^([A-HJ-NP-Z2-9]{4}-){5}[A-HJ-NP-Z2-9]{4}$").match(key).hasMatch())
        << key.toStdString();
    QTest::mouseClick(p->BtnCopiarClave, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), key);
    p->RbRedSegura[2]->setChecked(true);
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_EQ(boxes.texts.size(), 1);
    // In the store before any close, and in force for the next connections.
    const ServerSettings stored = LoadSettings(store);
    EXPECT_EQ(stored.redSegura, 2);
    EXPECT_EQ(ShowPreferences(stored, 10, {}).networkKey, key);
    EXPECT_EQ(network.security(), SecurityOf(stored));
    EXPECT_TRUE(network.security().encrypts());
}

TEST_F(Pages, SucursalPageStoresTheCentralSettingsAndProbesOffTheUiThread) {
    int restarts = 0;
    pages->centralChanged = [&] { ++restarts; };
    pages->preferencesAction()->trigger();
    TFramePref* p = pages->preferencesFrame();
    ASSERT_TRUE(p->selectNode("Sucursal"));
    EXPECT_EQ(p->currentPageTitle(), "Copia a la base central de la cadena");
    p->EdSucursal->setText(" Centro ");
    p->EdCentral->setText("host=127.0.0.1 port=1 dbname=tarvina");
    p->EdCentralClave->setText("año,clave");
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_EQ(restarts, 1);
    const ServerSettings stored = LoadSettings(store);
    EXPECT_EQ(stored.sucursal, "Centro");
    EXPECT_EQ(stored.central, "host=127.0.0.1 port=1 dbname=tarvina");
    EXPECT_NE(stored.centralClave, "año,clave");
    EXPECT_EQ(PlainCentralPassword(stored.centralClave), "año,clave");
    // Saving again unchanged restarts nothing; the password field shows the
    // placeholder and keeps the stored password.
    pages->preferencesAction()->trigger();
    QTest::mouseClick(p->BtnSave, Qt::LeftButton);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(LoadSettings(store).centralClave, stored.centralClave);

    QTest::mouseClick(p->BtnProbarConexion, Qt::LeftButton);
    EXPECT_EQ(p->LblProbarConexion->text(), "Probando...");
    EXPECT_TRUE(QTest::qWaitFor([&] { return p->BtnProbarConexion->isEnabled(); }, 15000));
    EXPECT_TRUE(p->LblProbarConexion->text().startsWith("El servidor central rechazó la conexión"))
        << p->LblProbarConexion->text().toStdString();
}
