// The main window's list model on its own, without a view: what it shows of the amplifier list and
// what it tells views as the list changes. Qt's model tester checks every change against the
// contract views rely on (rows before and after a removal keep their data, counts agree).

#include "finder/FtovrinListModel.h"

#include "gui/AmplifierIcon.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// An amplifier list, its model and Qt's tester watching the model.
struct ListAndModel {
    void Reply(const std::string& mac, const std::string& ip, const std::string& name)
    {
        TTovrinData record;
        record.Mac = record.MacKey = mac;
        record.IP = ip;
        record.Name = name;
        List.UpdateAmplifier(record, Now);
    }
    void Amps(int count)
    {
        for (int i = 0; i < count; ++i)
            Reply("M" + std::to_string(i), "10.0.0." + std::to_string(i), "Amp-" + std::to_string(i));
    }
    // Only the given rows answer again, then the others expire.
    int KeepOnly(const std::vector<int>& rows)
    {
        Now += 1000;
        std::vector<TTovrinData> answering;
        for (const int row : rows)
            answering.push_back(List.Row(row));
        for (const auto& record : answering)
            List.UpdateAmplifier(record, Now);
        return List.RemoveStale(500, Now);
    }
    QStringList Column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < Model.rowCount(); ++row)
            texts << Model.index(row, column).data().toString();
        return texts;
    }

    uint32_t Now = 1000;
    AmplifierList List;
    TAmplifierListModel Model { List, AmplifierIcon() };
    QAbstractItemModelTester Tester { &Model, QAbstractItemModelTester::FailureReportingMode::Fatal };
};

class ListModelTest : public ::testing::Test, protected ListAndModel { };

TEST_F(ListModelTest, ShowsTheListsTextsIconAndHeadersAndIsNotEditable)
{
    Reply("0A1B2C", "198.18.1.1", "Stage");
    Reply("0A1B2D", "198.18.1.2", "B\xFChne<b>"); // not UTF-8: every byte shown as Latin-1
    EXPECT_EQ(Model.rowCount(), 0) << "new rows wait to be shown";
    Model.ShowNewRows();
    ASSERT_EQ(Model.rowCount(), 2);
    ASSERT_EQ(Model.columnCount(), 3);
    EXPECT_EQ(Column(0), QStringList({ "0A1B2C", "0A1B2D" }));
    EXPECT_EQ(Column(1), QStringList({ "198.18.1.1", "198.18.1.2" }));
    EXPECT_EQ(Column(2), QStringList({ "Stage", QString::fromLatin1("B\xFChne<b>") }));
    for (int column = 0; column < 3; ++column) {
        const QModelIndex index = Model.index(1, column);
        EXPECT_EQ(index.data(Qt::AccessibleTextRole), index.data(Qt::DisplayRole)) << column;
        EXPECT_EQ(Model.flags(index), Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren);
        EXPECT_EQ(index.data(Qt::DecorationRole).value<QIcon>().isNull(), column != 0) << column;
    }
    EXPECT_EQ(Model.headerData(0, Qt::Horizontal), "MAC-Suffix");
    EXPECT_EQ(Model.headerData(1, Qt::Horizontal), "IP-Address");
    EXPECT_EQ(Model.headerData(2, Qt::Horizontal), "Name");
}

TEST_F(ListModelTest, NewRowsAreInsertedBehindTheShownOnesInOneGo)
{
    Amps(3);
    Model.ShowNewRows();
    QSignalSpy inserted(&Model, &QAbstractItemModel::rowsInserted);
    Reply("M0", "10.0.0.0", "Amp-0"); // a refresh adds nothing
    Reply("N1", "10.0.1.1", "New-1");
    Reply("N2", "10.0.1.2", "New-2");
    Model.ShowNewRows();
    Model.ShowNewRows();
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 3);
    EXPECT_EQ(inserted[0][2].toInt(), 4);
    EXPECT_EQ(Column(0), QStringList({ "M0", "M1", "M2", "N1", "N2" }));
}

TEST_F(ListModelTest, ARefreshedRowTellsItsIpAndNameChanged)
{
    Amps(3);
    Model.ShowNewRows();
    QSignalSpy changed(&Model, &QAbstractItemModel::dataChanged);
    Reply("M1", "10.0.9.9", "Moved");
    Model.RowChanged(1);
    Model.RowChanged(7); // not shown: nothing to tell
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].value<QModelIndex>(), Model.index(1, 1));
    EXPECT_EQ(changed[0][1].value<QModelIndex>(), Model.index(1, 2));
    EXPECT_EQ(Column(1)[1], "10.0.9.9");
    EXPECT_EQ(Column(2)[1], "Moved");
}

// Runs of expired rows leave one run at a time, from the back, each with the rows around it
// unchanged (the tester checks that); many runs leave in one reset. Rows the view was not shown
// yet leave without a word, and the rows behind them stay to be shown.
TEST(ListModel, ExpiredRowsLeaveByRunsOrInOneResetAndUnshownOnesSilently)
{
    const struct {
        int shown;
        int total;
        std::vector<int> kept;
        int removals; // rowsRemoved signals
        bool reset;
    } cases[] = {
        { 10, 10, { 0, 1, 4, 5, 6, 9 }, 2, false }, // runs 2-3 and 7-8
        { 10, 10, { 3, 4 }, 2, false }, // both ends
        { 10, 10, {}, 1, false },
        { 40, 40, { 0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34, 36, 38 }, 0, true },
        { 5, 10, { 0, 2, 3, 4, 6, 8 }, 1, false }, // rows 5.. not shown yet
        { 5, 10, { 0, 1, 2, 3, 4 }, 0, false },
    };
    for (const auto& c : cases) {
        ListAndModel lm;
        auto& Model = lm.Model;
        lm.Amps(c.shown);
        Model.ShowNewRows();
        for (int i = c.shown; i < c.total; ++i)
            lm.Reply("M" + std::to_string(i), "10.0.0." + std::to_string(i), "Amp-" + std::to_string(i));
        QSignalSpy removed(&Model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy reset(&Model, &QAbstractItemModel::modelReset);
        QStringList expected;
        int keptShown = 0;
        for (const int row : c.kept) {
            expected << QString("M%1").arg(row);
            keptShown += row < c.shown ? 1 : 0;
        }
        std::vector<int> removedRows;
        for (int row = 0, k = 0; row < c.total; ++row) {
            if (k < static_cast<int>(c.kept.size()) && c.kept[static_cast<size_t>(k)] == row)
                ++k;
            else
                removedRows.push_back(row);
        }
        ASSERT_EQ(lm.KeepOnly(c.kept), c.total - static_cast<int>(c.kept.size()));
        EXPECT_EQ(Model.RowsRemoved(removedRows), c.reset);
        EXPECT_EQ(removed.size(), c.removals) << c.kept.size();
        EXPECT_EQ(reset.size(), c.reset ? 1 : 0);
        EXPECT_EQ(Model.rowCount(), keptShown);
        Model.ShowNewRows();
        EXPECT_EQ(lm.Column(0), expected);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
