#include "gui/Announcer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <utility>

namespace {

const char* const StatusBarProperty = "tovrinStatusBar";
const char* const AnnouncerProperty = "tovrinAnnouncer";

class StatusBarInterface : public QAccessibleWidget {
public:
    explicit StatusBarInterface(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StatusBar)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

// Asked for every class of an object, most derived first: the first answer counts.
QAccessibleInterface* AnnouncerInterfaces(const QString& className, QObject* object)
{
    if (className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (auto* label = qobject_cast<QLabel*>(object); label != nullptr && label->property(StatusBarProperty).toBool())
        return new StatusBarInterface(label);
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->property(AnnouncerProperty).toBool())
        return new QAccessibleWidget(widget, QAccessible::Notification);
    return nullptr;
}

void InstallFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(AnnouncerInterfaces);
        return true;
    }();
    (void)installed;
}

// An interface made before the property was set (only while a screen reader listens) has the
// widget's own role; the next query makes the new one.
void ForgetInterface(QWidget& widget)
{
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&widget);
    if (made != nullptr)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

void ReadAsStatusBar(QLabel& label)
{
    InstallFactory();
    label.setProperty(StatusBarProperty, true);
    ForgetInterface(label);
}

TAnnouncer::TAnnouncer(QWidget& window)
    : QWidget(&window)
{
    InstallFactory();
    setObjectName("Announcer");
    setProperty(AnnouncerProperty, true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(0, 0, 0, 0);
    ForgetInterface(*this);
    FAfterActivation = new QTimer(this);
    FAfterActivation->setSingleShot(true);
    FAfterActivation->setInterval(AfterActivationMs);
    connect(FAfterActivation, &QTimer::timeout, this, [this] {
        // The window's own menu is open in front of it: that counts as in front.
        const bool inFront = this->window()->isActiveWindow() || QApplication::activePopupWidget() != nullptr;
        if (inFront && !FWaiting.isEmpty())
            Show(std::exchange(FWaiting, QString()));
    });
    window.installEventFilter(this);
}

void TAnnouncer::Announce(const QString& text)
{
    if (text.isEmpty())
        return;
    // Notices of one turn of the event loop go out as one: a later notification would cut the
    // earlier one short.
    FWaiting = FWaiting.isEmpty() ? text : FWaiting + "\n" + text;
    if (!FAfterActivation->isActive())
        FAfterActivation->start(0);
}

bool TAnnouncer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window() && event->type() == QEvent::WindowActivate)
        FAfterActivation->start(AfterActivationMs);
    return QWidget::eventFilter(watched, event);
}

void TAnnouncer::Show(const QString& text)
{
    setAccessibleName(text);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
