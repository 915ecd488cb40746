#include "gui/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QWidget>

#include <utility>

namespace {

const char* const AnnouncedAsWindow = "tovrinAnnouncedAsWindow";
const char* const ValueAsText = "tovrinValueAsText";
const char* const ShortcutSpoken = "tovrinShortcutSpoken";

QString WithoutAccessKeys(QString text)
{
    text.remove(QRegularExpression("&(?!&)"));
    return text.replace("&&", "&");
}

// A one-line field as Qt reads it, except that its text has one run of attributes from the first
// character to the last. Qt's own reading gives every character an empty run (start and end at the
// character), from which a screen reader assembles the field's line one character short
// ("198.18.1.5" for "198.18.1.51"). Fields that hide their text keep Qt's reading.
class LineEditText : public QAccessibleWidget, public QAccessibleTextInterface, public QAccessibleEditableTextInterface {
public:
    explicit LineEditText(QLineEdit* edit)
        : QAccessibleWidget(edit, QAccessible::EditableText)
    {
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return Edit().text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = Edit().isReadOnly();
        state.editable = !Edit().isReadOnly();
        state.selectableText = true;
        return state;
    }

    QString text(int startOffset, int endOffset) const override
    {
        return Edit().text().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(Edit().text().size()); }
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = 0;
        if (selectionIndex != 0 || !Edit().hasSelectedText())
            return;
        *startOffset = Edit().selectionStart();
        *endOffset = *startOffset + static_cast<int>(Edit().selectedText().size());
    }
    int selectionCount() const override { return Edit().hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
    void removeSelection(int selectionIndex) override
    {
        if (selectionIndex == 0)
            Edit().deselect();
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override
    {
        if (selectionIndex == 0)
            Edit().setSelection(startOffset, endOffset - startOffset);
    }
    int cursorPosition() const override { return Edit().cursorPosition(); }
    void setCursorPosition(int position) override { Edit().setCursorPosition(position); }
    QRect characterRect(int offset) const override
    {
        const QFontMetrics metrics = Edit().fontMetrics();
        const QString shown = Edit().displayText();
        const int x = Edit().contentsRect().left() + Edit().textMargins().left() + 2
            + metrics.horizontalAdvance(shown.left(offset));
        const QRect local(x, (Edit().height() - metrics.height()) / 2,
            metrics.horizontalAdvance(shown.mid(offset, 1)), metrics.height());
        return QRect(Edit().mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return Edit().cursorPositionAt(Edit().mapFromGlobal(point));
    }
    void scrollToSubstring(int startIndex, int endIndex) override
    {
        Edit().setCursorPosition(endIndex);
        Edit().setCursorPosition(startIndex);
    }
    QString attributes(int, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }

    void deleteText(int startOffset, int endOffset) override { replaceText(startOffset, endOffset, {}); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString& text) override
    {
        if (Edit().isReadOnly())
            return;
        QString changed = Edit().text();
        changed.replace(startOffset, endOffset - startOffset, text);
        Edit().setText(changed);
        Edit().setCursorPosition(startOffset + static_cast<int>(text.size()));
    }

private:
    QLineEdit& Edit() const { return *static_cast<QLineEdit*>(widget()); }
};

// An item of a menu, as Qt reads it, with the shortcut where it is spoken: the key binding is
// "mnemonic;key path;accelerator".
class MenuItemWithShortcut : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    MenuItemWithShortcut(QMenu* menu, QAction* action)
        : FMenu(menu)
        , FAction(action)
    {
    }
    bool isValid() const override { return !FMenu.isNull() && !FAction.isNull(); }
    QObject* object() const override { return FAction; }
    QWindow* window() const override { return FMenu ? FMenu->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(FMenu); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override
    {
        return FAction && FAction->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return WithoutAccessKeys(FAction->text());
        if (t == QAccessible::Accelerator)
            return FAction->shortcut().toString(QKeySequence::NativeText);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override { }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect item = FMenu->actionGeometry(FAction);
        return QRect(FMenu->mapToGlobal(item.topLeft()), item.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid())
            return state;
        state.focusable = true;
        state.selectable = true;
        state.invisible = !FMenu->isVisible() || !FAction->isVisible();
        state.disabled = !FAction->isEnabled();
        state.focused = state.selected = FMenu->activeAction() == FAction;
        state.checkable = FAction->isCheckable();
        state.checked = FAction->isChecked();
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return { pressAction() }; }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid() && FAction->isEnabled())
            FAction->trigger();
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        if (name != pressAction() || !isValid())
            return {};
        const QString mnemonic = QKeySequence::mnemonic(FAction->text()).toString(QKeySequence::NativeText);
        return { mnemonic, {}, FAction->shortcut().toString(QKeySequence::NativeText) };
    }

private:
    QPointer<QMenu> FMenu;
    QPointer<QAction> FAction;
};

// The box's shown value as its text (read only, no caret or selection of its own).
class ComboBoxValue : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ComboBoxValue(QComboBox* box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || (t == QAccessible::Name && widget()->accessibleName().isEmpty()))
            return Box().currentText();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = Box().view() != nullptr && Box().view()->isVisible();
        state.collapsed = !state.expanded;
        return state;
    }

    QString text(int startOffset, int endOffset) const override
    {
        return Box().currentText().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(Box().currentText().size()); }
    void selection(int, int* startOffset, int* endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override { }
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        (void)offset;
        return {};
    }

private:
    const QComboBox& Box() const { return *static_cast<const QComboBox*>(widget()); }
};

// Asked for every class of an object, most derived first: the first answer counts.
QAccessibleInterface* ProgramInterfaces(const QString& className, QObject* object)
{
    if (className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (auto* action = qobject_cast<QAction*>(object); action != nullptr && action->property(ShortcutSpoken).toBool()) {
        for (QObject* user : action->associatedObjects()) {
            if (auto* menu = qobject_cast<QMenu*>(user))
                return new MenuItemWithShortcut(menu, action);
        }
        return nullptr;
    }
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr)
        return nullptr;
    if (auto* edit = qobject_cast<QLineEdit*>(widget); edit != nullptr && edit->echoMode() == QLineEdit::Normal)
        return new LineEditText(edit);
    if (auto* box = qobject_cast<QComboBox*>(widget); box != nullptr && box->property(ValueAsText).toBool())
        return new ComboBoxValue(box);
    if (!widget->isWindow() || !widget->property(AnnouncedAsWindow).toBool())
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

namespace {

void InstallFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(ProgramInterfaces);
        return true;
    }();
    (void)installed;
}

} // namespace

void ReadValueAsText(QComboBox& box)
{
    InstallFactory();
    box.setProperty(ValueAsText, true);
    if (!QAccessible::isActive())
        return;
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(&box))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

void SpeakShortcuts(QMenu& menu)
{
    InstallFactory();
    for (QAction* item : menu.actions()) {
        if (!item->shortcut().isEmpty())
            item->setProperty(ShortcutSpoken, true);
    }
}

void AnnounceAsWindow(QWidget& window)
{
    InstallFactory();
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
