// The grids' view of a table handle: the rows shown follow the handle's
// order, the handle stays on the current row, the ends of the table are
// kept, rows deleted under the grid give way, and a table that breaks
// while shown empties the grid with a text instead of failing.

#include "server/PinTestPrinters.h"
#include "server/PinWorld.h"
#include "server/pin/TableWindow.h"
#include "xbase/PosixFileSystem.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace tarvina;
using namespace tarvina::server;

namespace {

class Grid : public server::test::PinWorld {
protected:
    // n codes "00A000", "00A001", ... created a second apart, so the
    // creation order (tag FECHOR) and the record order agree.
    void addCodes(int n) {
        for (int i = 0; i < n; ++i) {
            xbase::test::AddCode(
                frame, QStringLiteral("00A%1").arg(i, 3, 10, QLatin1Char('0')).toStdString(),
                30 + i, xbase::Date{2026, 3, 1},
                QStringLiteral("09:%1:%2")
                    .arg(i / 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .toStdString());
        }
    }
    QStringList shownPins() const {
        QStringList out;
        for (int r = 0; r < model.rowCount(); ++r) {
            out << model.data(model.index(r, 0)).toString();
        }
        return out;
    }
    QString currentPin() { return QString::fromStdString(frame.GetString("PIN")); }

    TableWindow model{
        {{"PIN", "PIN"}, {"SALDO", "Saldo (min)"}, {"CFECHA", "Fec. Inic."}, {"FECHA", "Fecha"}},
        "CFECHA"};
};

} // namespace

TEST_F(Grid, ShowsOnePageInOrderAndKeepsTheHandleOnTheCurrentRow) {
    addCodes(25);
    frame.First();
    model.setPageRows(10);
    model.setTable(&frame);
    EXPECT_EQ(model.rowCount(), 10);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Saldo (min)");
    EXPECT_EQ(shownPins().first(), "00A000");
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), "01/03/2026");
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "");
    EXPECT_EQ(model.currentRow(), 0);
    EXPECT_EQ(model.position(), 0);

    // Moving inside the page moves the handle only.
    model.MoveBy(3);
    EXPECT_EQ(model.currentRow(), 3);
    EXPECT_EQ(currentPin(), "00A003");
    EXPECT_EQ(shownPins().first(), "00A000");
    // Past the bottom the page scrolls, the current row on the last line.
    model.MoveBy(10);
    EXPECT_EQ(currentPin(), "00A013");
    EXPECT_EQ(model.currentRow(), 9);
    EXPECT_EQ(shownPins().first(), "00A004");
    // The last page ends with the last code.
    model.Last();
    EXPECT_EQ(currentPin(), "00A024");
    EXPECT_EQ(shownPins().first(), "00A015");
    EXPECT_EQ(model.currentRow(), 9);
    EXPECT_EQ(model.position(), 1);
    model.Next(); // at the end: stays
    EXPECT_EQ(currentPin(), "00A024");
    EXPECT_EQ(shownPins().last(), "00A024");
    model.First();
    model.Prior(); // at the beginning: stays
    EXPECT_EQ(currentPin(), "00A000");
    EXPECT_EQ(model.currentRow(), 0);
    // A click picks the row and the handle follows.
    model.setCurrentRow(5);
    EXPECT_EQ(currentPin(), "00A005");
    // A jump by position lands on the record at that place.
    model.jumpTo(0.5);
    EXPECT_EQ(currentPin(), "00A012");
    EXPECT_EQ(shownPins().at(model.currentRow()), "00A012");
}

TEST_F(Grid, RowsInUseAreMarkedAndDeletedRowsGiveWay) {
    addCodes(5);
    frame.First();
    frame.Next();
    frame.Edit();
    frame.SetDate("CFECHA", xbase::Date{2026, 3, 7});
    frame.SetString("CHORA", "10:00:00");
    frame.Post();
    frame.Commit();
    frame.First();
    model.setTable(&frame);
    EXPECT_FALSE(model.marked(0));
    EXPECT_TRUE(model.marked(1));
    EXPECT_TRUE(model.data(model.index(1, 0), TableWindow::kMarkedRole).toBool());

    // The code checks retire the current code through another handle.
    model.setCurrentRow(2);
    tbPin.Seek("00A002");
    ASSERT_EQ(tbPin.GetString("PIN"), "00A002");
    tbPin.Delete();
    tbPin.Commit();
    model.Refresh();
    EXPECT_EQ(shownPins(), (QStringList{"00A000", "00A001", "00A003", "00A004"}));
    EXPECT_EQ(currentPin(), "00A003");
}

TEST_F(Grid, SeekOfAnotherCallerIsFollowed) {
    addCodes(30);
    frame.First();
    model.setPageRows(8);
    model.setTable(&frame);
    frame.SetOrder("PIN");
    frame.Seek("00A02");
    model.Follow(0);
    EXPECT_EQ(shownPins().first(), "00A020");
    EXPECT_EQ(model.currentRow(), 0);
    EXPECT_EQ(model.rowCount(), 8);
    // Near the end the rows above fill the page.
    frame.Seek("00A028");
    model.Follow(0);
    EXPECT_EQ(model.rowCount(), 8);
    EXPECT_EQ(shownPins().last(), "00A029");
    EXPECT_EQ(shownPins().at(model.currentRow()), "00A028");
}

TEST_F(Grid, EmptyClosedAndBrokenTables) {
    model.setTable(&frame); // open, no rows
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.currentRow(), -1);
    model.Next();
    model.Last();
    EXPECT_EQ(model.rowCount(), 0);
    addCodes(3);
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 3);

    xbase::TableEngine closed(xbase::RealFileSystem());
    model.setTable(&closed);
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(model.errorText().isEmpty());

    // The table file is cut short on disk while shown.
    model.setTable(&frame);
    QSignalSpy failed(&model, &TableWindow::failed);
    {
        QFile f(dir.file("CajaPIN.dbf"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.resize(40));
    }
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.errorText().isEmpty());
    EXPECT_GE(failed.count(), 1);
}
