#pragma once
// What a screen reader (through the desktop's accessibility bus) needs beyond Qt's own widgets.

#include <QListView>

class QAbstractItemView;
class QComboBox;
class QMenu;
class QWidget;

// Announces a plain top-level widget as a window (a frame on the bus) with its caption. Qt gives a
// plain widget the role of a client area, which a screen reader does not announce when the window
// opens or comes back to the front. Call first in the window's constructor, before its controls
// are made.
void AnnounceAsWindow(QWidget& window);

// The context menu of a list by the keyboard: the Menu key and Shift+F10 ask for it at the current
// row (its customContextMenuRequested, in viewport coordinates), as a right click asks at the
// pointer. The platform's own keyboard request, which would come at the pointer, is left out.
void OpenContextMenuByKeyboard(QAbstractItemView& list);

// A combo box that offers its shown value as text as well. A screen reader takes a combo box's value
// from its list's selection, which Qt's accessibility bridge does not offer here, or else from the
// box's text; without either it reads the box with its label and no value.
void ReadValueAsText(QComboBox& box);

// The menu's items give their shortcut as the accelerator a screen reader speaks with the item
// ("Copy IP-Address, Ctrl+I"); Qt hands it on where screen readers look for the whole key path.
// Items added later are included when this is called again.
void SpeakShortcuts(QMenu& menu);

// Labels take at least the size their text needs (their designed size is the least they keep), so
// that no caption is cut at any scale or in any font.
void SizeLabelsToText(QWidget& window);

// A list view that tells assistive technology about its current row only while the list has the
// keyboard focus. QListView reports every change of its current row as a focus change, so a list
// refreshed while the user types elsewhere would make a screen reader read a row instead of the
// field the user is in.
class KeyboardFocusListView : public QListView {
public:
    using QListView::QListView;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
};
