// What the main window has the screen reader say beside the focus: a selection the list moved by
// itself (a new amplifier selected, the selected one gone), and the current row once the window is
// back in front (after the menu, a dialog or another window).

#include "finder/Ftovrin.h"

#include "gui/Announcer.h"
#include "gui/QtText.h"

#include <QAccessible>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

// row: the row the list selected by itself, -1 when the selected row went away, -2 when the
// selection stays (the user chose it, or its texts changed): only its label is kept.
void TFormTovrin::NoteListSelection(int row)
{
    if (row >= 0 && row < FAmplifiers.Count())
        FSelectionNews = tr("%1 appeared, selected").arg(ToQt(AmplifierLabel(FAmplifiers.Row(row))));
    else if (row == -1 && !FSelectedLabel.empty())
        FSelectionNews = tr("%1 went away").arg(ToQt(FSelectedLabel));
    const int selected = FAmplifiers.SelectedRow();
    FSelectedLabel = selected >= 0 ? AmplifierLabel(FAmplifiers.Row(selected)) : std::string();
}

// Once per turn, when the view shows the list's choice: a burst of new amplifiers is one notice,
// of the one selected last. Not while a dialog or another window is in front; the list's own menu
// is no other window.
void TFormTovrin::AnnounceListSelection()
{
    if (FSelectionNews.isEmpty())
        return;
    if (isActiveWindow() || PopupMenu1->isVisible())
        Announcer->Announce(FSelectionNews);
    FSelectionNews.clear();
}

void TFormTovrin::QueueCurrentRowReading()
{
    // After the focus event of the activation itself, which names only the list.
    FRowReadingTimer->start();
}

// The list reports its current row as the focused object, as it does when the row changes: the
// list first, since a screen reader does not read again the object it holds as focused already
// (the row may have been reported while a dialog was still in front).
void TFormTovrin::ReadCurrentRow()
{
    if (!QAccessible::isActive() || !isActiveWindow() || !ListView1->hasFocus())
        return;
    const QModelIndex current = ListView1->currentIndex();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(ListView1);
    if (!current.isValid() || list == nullptr || list->tableInterface() == nullptr)
        return;
    QAccessibleInterface* cell = list->tableInterface()->cellAt(current.row(), 0);
    if (cell == nullptr)
        return;
    QAccessibleEvent listFocus(ListView1, QAccessible::Focus);
    QAccessible::updateAccessibility(&listFocus);
    QAccessibleEvent rowFocus(ListView1, QAccessible::Focus);
    rowFocus.setChild(list->indexOfChild(cell));
    QAccessible::updateAccessibility(&rowFocus);
}
