// The main window's Find and Find Next: the next row whose MAC suffix, IP address or name contains
// the text, what the user is told when none does, and the search going on from the first row.

#include "finder/Ftovrin.h"

#include "finder/AmplifierSearch.h"
#include "finder/FtovrinListModel.h"
#include "gui/Announcer.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"

#include <QLabel>
#include <QTreeView>

void TFormTovrin::MenuItemFindClick()
{
    std::string text = FFindText;
    if (!UserDialogs::InputQuery(this, tr("Find"), tr("MAC suffix, IP address or name contains:"), text)
        || text.empty())
        return;
    FFindText = text;
    FindNextRow();
}

void TFormTovrin::MenuItemFindNextClick()
{
    if (FFindText.empty()) {
        MenuItemFindClick();
        return;
    }
    FindNextRow();
}

void TFormTovrin::FindNextRow()
{
    const int row = FindAmplifier(FAmplifiers, FFindText, FAmplifiers.SelectedRow());
    if (row < 0) {
        FFindNotice
            = tr("No amplifier's MAC suffix, IP address or name contains \"%1\".").arg(ToQt(FFindText));
        ShowStatus(FromQt(FFindNotice));
        return;
    }
    if (!FFindNotice.isEmpty() && LabelStatus->text() == FFindNotice) {
        LabelStatus->clear();
        LabelStatus->setToolTip({});
    }
    FFindNotice.clear();
    const int from = FAmplifiers.SelectedRow();
    ShowFoundRow(row);
    // The row itself is read where the focus is; that the search went round is not shown.
    if (from >= 0 && row <= from)
        Announcer->Announce(tr("Search continued from the first row"));
}

// Unlike a row selected by discovery, a found row is scrolled into view.
void TFormTovrin::ShowFoundRow(int row)
{
    FAmplifiers.Select(row);
    ShowModelSelection();
    ListView1->scrollTo(ViewIndex(row));
}
