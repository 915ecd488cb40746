#pragma once
// The main window's amplifier list as a Qt model: a view over the records of the window-free
// AmplifierList, without a copy of them. Rows are the list's first Shown() rows; the window tells
// the model when the list changed (AmplifierList::Observer) and when new rows are to be shown, so
// that a long list reaches the view in batches.

#include "finder/Discovery.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <vector>

class TAmplifierListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { ColumnMac, ColumnIP, ColumnName, ColumnCount };

    TAmplifierListModel(const AmplifierList& list, QIcon icon, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // The texts as the list holds them (plain text, every byte kept: gui/QtText.h), the icon in the
    // first column; the accessible text is the shown text.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int Shown() const { return FShown; }
    // Shows the list's rows behind the shown ones.
    void ShowNewRows();
    // The list refreshed this row's texts.
    void RowChanged(int row);
    // The list removed these rows (ascending, numbered as before the removal). Few runs of rows
    // leave one by one; many are taken out by a reset of the model, which views answer with one
    // layout instead of one per run. Returns true when it was a reset.
    bool RowsRemoved(const std::vector<int>& rows);

    struct RowRun {
        int first;
        int last;
    };

private:
    // The list's row for a row of the view, or -1 for a removed row the view has not been told of.
    int ListRow(int viewRow) const;

    const AmplifierList& FList;
    QIcon FIcon;
    int FShown = 0;
    // While a removal is being told: the runs of rows the list removed (ascending, numbered as
    // before), of which the last FRunsTold are out of the view already. Until then the view still
    // counts the others, and its rows are mapped to the list's through them.
    std::vector<RowRun> FRemovedRuns;
    size_t FRunsTold = 0;
};
