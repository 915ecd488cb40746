#include "gui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

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

} // namespace

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
