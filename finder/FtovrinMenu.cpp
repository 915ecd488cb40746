// The main window's context menu and the list's keys: which amplifier a chosen item acts on, the
// shortcuts and Return in the order the keys were typed, and "Copy IP-Address".

#include "finder/Ftovrin.h"

#include "gui/Accessibility.h"
#include "gui/Announcer.h"
#include "gui/QtText.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

// The context menu, top to bottom. The IP settings item (the default, also run by a double click
// on a row) and the upload item go first, then separator N1, the menu configuration, separator
// N2, and "Copy IP-Address"; the user command items follow it, then separator N3, "Save List
// As...", "Find..." and "Find Next".
void TFormTovrin::BuildPopupMenu()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    MenuItemIpSettings = AddMenuItem(
        "MenuItemIpSettings", tr("IP-&Settings..."), QKeySequence(), &TFormTovrin::MenuItemIpSettingsClick);
    PopupMenu1->setDefaultAction(MenuItemIpSettings);
    MenuItemUpload = AddMenuItem(
        "MenuItemUpload", tr("Upload File..."), QKeySequence(), &TFormTovrin::MenuItemUploadClick);
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName("N1");
    MenuItemCfgTools = AddMenuItem("MenuItemCfgTools", tr("Configure this Menu..."), QKeySequence(),
        &TFormTovrin::MenuItemCfgToolsClick);
    N2 = PopupMenu1->addSeparator();
    N2->setObjectName("N2");
    MenuItemCopyIP = AddMenuItem("MenuItemCopyIP", tr("Copy IP-Address"), QKeySequence(Qt::CTRL | Qt::Key_I),
        &TFormTovrin::MenuItemCopyIPClick);
    // Last, so that the items above and the user items keep their places.
    N3 = PopupMenu1->addSeparator();
    N3->setObjectName("N3");
    MenuItemSaveList = AddMenuItem("MenuItemSaveList", tr("Save List As..."),
        QKeySequence(Qt::CTRL | Qt::Key_S), &TFormTovrin::MenuItemSaveListClick);
    MenuItemFind = AddMenuItem(
        "MenuItemFind", tr("Find..."), QKeySequence(Qt::CTRL | Qt::Key_F), &TFormTovrin::MenuItemFindClick);
    MenuItemFindNext = AddMenuItem(
        "MenuItemFindNext", tr("Find Next"), QKeySequence(Qt::Key_F3), &TFormTovrin::MenuItemFindNextClick);

    SpeakShortcuts(*PopupMenu1);

    // The item's handler runs before the queued release: it still finds the row the menu opened on.
    connect(PopupMenu1, &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, [this] {
            if (!PopupMenu1->isVisible()) {
                FMenuTarget.Release();
                QueueCurrentRowReading();
            }
        });
    });
}

// The shortcut belongs to the menu only (it is shown there and works while it is open); with the
// menu closed the list's key filter runs the item, in turn with the keys typed before it.
QAction* TFormTovrin::AddMenuItem(
    const char* name, const QString& caption, const QKeySequence& shortcut, void (TFormTovrin::*handler)())
{
    auto* item = new QAction(caption, this);
    item->setObjectName(name);
    item->setShortcut(shortcut);
    PopupMenu1->addAction(item);
    connect(item, &QAction::triggered, this, handler);
    return item;
}

void TFormTovrin::ListView1ContextPopup(const QPoint& position)
{
    FMenuTarget.Aim(FAmplifiers);
    PopupMenu1->popup(ListView1->viewport()->mapToGlobal(position));
    // Opened by a key or a click, the menu starts on its first item, which the screen reader reads.
    for (QAction* item : PopupMenu1->actions()) {
        if (!item->isSeparator() && item->isEnabled() && item->isVisible()) {
            PopupMenu1->setActiveAction(item);
            break;
        }
    }
}

TMenuTarget::Outcome TFormTovrin::Target(TTovrinData& record)
{
    const auto outcome = FMenuTarget.Resolve(FAmplifiers, record);
    if (outcome == TMenuTarget::Outcome::Vanished) {
        ShowStatus(FromQt(tr("%1 went away before the operation started; nothing was done.")
                              .arg(ToQt(AmplifierLabel(FMenuTarget.AimedRecord())))));
    }
    return outcome;
}

bool TFormTovrin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListView1 && event->type() == QEvent::KeyPress && RunListKey(*static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool TFormTovrin::RunListKey(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    if ((key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        if (FAmplifiers.SelectedRow() >= 0)
            ListView1DblClick();
        return true;
    }
    const QKeySequence typed(QKeyCombination(modifiers, static_cast<Qt::Key>(key.key())));
    for (QAction* item : PopupMenu1->actions()) {
        if (!item->shortcut().isEmpty() && item->shortcut() == typed && item->isEnabled()) {
            item->trigger();
            return true;
        }
    }
    return false;
}

void TFormTovrin::MenuItemCopyIPClick()
{
    if (Target(Selected) != TMenuTarget::Outcome::Found)
        return;
    QGuiApplication::clipboard()->setText(ToQt(Selected.IP));
    Announcer->Announce(tr("Copied %1").arg(ToQt(Selected.IP)));
}
