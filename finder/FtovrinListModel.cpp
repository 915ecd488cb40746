#include "finder/FtovrinListModel.h"

#include "gui/QtText.h"

#include <algorithm>

namespace {

// Beyond this many runs of removed rows, one reset costs the view less than a removal per run.
constexpr size_t RemovalRunLimit = 16;

using RowRun = TAmplifierListModel::RowRun;

int Length(const RowRun& run)
{
    return run.last - run.first + 1;
}

std::vector<RowRun> Runs(const std::vector<int>& rows)
{
    std::vector<RowRun> runs;
    for (const int row : rows) {
        if (!runs.empty() && runs.back().last + 1 == row)
            runs.back().last = row;
        else
            runs.push_back({ row, row });
    }
    return runs;
}

} // namespace

TAmplifierListModel::TAmplifierListModel(const AmplifierList& list, QIcon icon, QObject* parent)
    : QAbstractTableModel(parent)
    , FList(list)
    , FIcon(std::move(icon))
{
}

int TAmplifierListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FShown;
}

int TAmplifierListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TAmplifierListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= FShown)
        return {};
    const int row = ListRow(index.row());
    if (row < 0 || row >= FList.Count())
        return {};
    const TTovrinData& record = FList.Row(row);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (index.column()) {
        case ColumnMac:
            return ToQt(record.MacKey);
        case ColumnIP:
            return ToQt(record.IP);
        case ColumnName:
            return ToQt(record.Name);
        default:
            return {};
        }
    case Qt::DecorationRole:
        return index.column() == ColumnMac ? QVariant(FIcon) : QVariant();
    default:
        return {};
    }
}

QVariant TAmplifierListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ColumnMac:
        return tr("MAC-Suffix");
    case ColumnIP:
        return tr("IP-Address");
    case ColumnName:
        return tr("Name");
    default:
        return {};
    }
}

Qt::ItemFlags TAmplifierListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TAmplifierListModel::ShowNewRows()
{
    const int count = FList.Count();
    if (count <= FShown)
        return;
    beginInsertRows(QModelIndex(), FShown, count - 1);
    FShown = count;
    endInsertRows();
}

void TAmplifierListModel::RowChanged(int row)
{
    if (row < 0 || row >= FShown)
        return;
    emit dataChanged(
        index(row, ColumnIP), index(row, ColumnName), { Qt::DisplayRole, Qt::AccessibleTextRole });
}

int TAmplifierListModel::ListRow(int viewRow) const
{
    if (FRemovedRuns.empty())
        return viewRow;
    const size_t firstTold = FRemovedRuns.size() - FRunsTold;
    int row = viewRow; // numbered as before the removal
    for (size_t i = firstTold; i < FRemovedRuns.size(); ++i)
        if (row >= FRemovedRuns[i].first)
            row += Length(FRemovedRuns[i]);
    int removedBefore = 0;
    for (const RowRun& run : FRemovedRuns) {
        if (row >= run.first && row <= run.last)
            return -1;
        if (run.last < row)
            removedBefore += Length(run);
    }
    return row - removedBefore;
}

bool TAmplifierListModel::RowsRemoved(const std::vector<int>& allRows)
{
    // Rows not shown yet just go.
    const std::vector<int> rows(allRows.begin(), std::lower_bound(allRows.begin(), allRows.end(), FShown));
    if (rows.empty())
        return false;
    FRemovedRuns = Runs(rows);
    FRunsTold = 0;
    const bool reset = FRemovedRuns.size() > RemovalRunLimit;
    if (reset) {
        beginResetModel();
        FShown -= static_cast<int>(rows.size());
        FRemovedRuns.clear();
        endResetModel();
        return true;
    }
    // From the back, so that the rows of the runs still to tell keep their numbers.
    for (auto run = FRemovedRuns.rbegin(); run != FRemovedRuns.rend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->last);
        FShown -= Length(*run);
        ++FRunsTold;
        endRemoveRows();
    }
    FRemovedRuns.clear();
    FRunsTold = 0;
    return false;
}
