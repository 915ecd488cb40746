#pragma once
// The rows of the main window's list view as window tests read and pick them, through the view's
// model as the view itself does.

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QString>

inline int RowCount(const QAbstractItemView& view)
{
    return view.model()->rowCount();
}

inline QString RowText(const QAbstractItemView& view, int row, int column)
{
    return view.model()->index(row, column).data().toString();
}

// As a click on the row: it becomes the current and only selected row.
inline void PickRow(QAbstractItemView& view, int row)
{
    view.setCurrentIndex(view.model()->index(row, 0));
}

// The one selected row, or -1.
inline int SelectedRow(const QAbstractItemView& view)
{
    const auto rows = view.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

inline QRect RowRect(const QAbstractItemView& view, int row)
{
    return view.visualRect(view.model()->index(row, 0));
}
