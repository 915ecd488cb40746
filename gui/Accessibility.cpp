#include "gui/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QWidget>

#include <utility>

namespace {

const char* const AnnouncedAsWindow = "tovrinAnnouncedAsWindow";

// Asked for every class of an object, most derived first: the first answer counts.
QAccessibleInterface* WindowInterface(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || !widget->isWindow()
        || className != QLatin1String(object->metaObject()->className())
        || !widget->property(AnnouncedAsWindow).toBool())
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

class KeyboardContextMenu : public QObject {
public:
    explicit KeyboardContextMenu(QAbstractItemView& list)
        : QObject(&list)
        , FList(list)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != &FList)
            return false;
        // Some platforms turn the Menu key into a keyboard context-menu request (at the pointer),
        // some pass the key on, some do both: one menu either way, at the current row.
        if (event->type() == QEvent::ContextMenu) {
            if (static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Keyboard)
                return false;
            if (!std::exchange(FOpenedByKey, false))
                Open();
            return true;
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const bool menuKey = key->key() == Qt::Key_Menu && modifiers == Qt::NoModifier;
        if (!menuKey && !(key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
            return false;
        FOpenedByKey = menuKey;
        Open();
        return true;
    }

private:
    void Open()
    {
        const QModelIndex current = FList.currentIndex();
        const QRect row = current.isValid() ? FList.visualRect(current) : QRect();
        emit FList.customContextMenuRequested(
            row.isValid() ? row.center() : FList.viewport()->rect().topLeft() + QPoint(8, 8));
    }

    QAbstractItemView& FList;
    bool FOpenedByKey = false;
};

} // namespace

void OpenContextMenuByKeyboard(QAbstractItemView& list)
{
    list.installEventFilter(new KeyboardContextMenu(list));
}

void SizeLabelsToText(QWidget& window)
{
    for (QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->wordWrap() && !label->text().isEmpty())
            label->resize(label->size().expandedTo(label->sizeHint()));
    }
}

void AnnounceAsWindow(QWidget& window)
{
    static const bool installed = [] {
        QAccessible::installFactory(WindowInterface);
        return true;
    }();
    (void)installed;
    window.setProperty(AnnouncedAsWindow, true);
    // An interface made while the base class was being built (only while a screen reader listens)
    // has the client role; the next query makes the window's.
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&window);
    if (made != nullptr && made->role() != QAccessible::Window)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void KeyboardFocusListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (hasFocus())
        QListView::currentChanged(current, previous);
    else
        QAbstractItemView::currentChanged(current, previous);
}
