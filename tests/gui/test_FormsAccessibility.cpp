// One walk over the controls of every window of the program, as a screen reader and a keyboard
// user meet them: the window's role and caption, a name for every control a person can reach,
// labels tied to their fields, access keys, Tab, the context menus by keyboard, and texts that
// fit their controls and stay readable in a dark and a high-contrast palette. ctest runs it at
// QT_SCALE_FACTOR 1, 1.5 and 2, and in German (LANG=de_DE.UTF-8) at 1 and 2.

#include "finder/Ftovrin.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gui/Translations.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include "support/QtFocus.h"
#include "support/QtWait.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

namespace {

// "de" when the windows speak German in this run (the locale asks for it), else empty.
QString Language;

QString Translated(const char* context, const char* text)
{
    return QCoreApplication::translate(context, text);
}

struct WindowCase {
    const char* window;
    std::function<std::unique_ptr<QWidget>()> make;
    // Access keys that the window's fixed captions give to two controls each; pressing such a key
    // again moves on to the next of them. The German captions give every control a key of its own.
    QString sharedKeys;
    // The control that needs Tab for its text, and the list whose context menu opens by keyboard.
    const char* keepsTab;
    const char* listWithMenu;
};

std::unique_ptr<QWidget> MainWindow()
{
    auto window = std::make_unique<TFormTovrin>();
    window->SuppressActivation();
    for (const char* reply : { "0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left",
             "0A1B2D 1 198.18.1.2 255.255.0.0 0.0.0.0 Stage-Right" })
        window->DatagramReceived("198.18.1.1:8001", reply, static_cast<int>(std::strlen(reply)));
    return window;
}

std::unique_ptr<QWidget> Finder()
{
    auto finder = std::make_unique<TFormGotoProj>(nullptr, "/nonexistent");
    finder->SetNextAnswer(TFormGotoProj::ModalOk, "/nonexistent/Produktion/2014/1395_Stage/");
    finder->exec(); // fills the list with the one answer, selected
    return finder;
}

std::unique_ptr<QWidget> InterfaceChoice()
{
    auto dialog = std::make_unique<TFormSelIpAddr>();
    dialog->ComboBoxLocalAddrs->addItems({ "198.18.0.1", "192.168.1.20" });
    return dialog;
}

const WindowCase Windows[] = {
    { "main", MainWindow, "", "", "ListView1" },
    { "IP settings", [] { return std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN); }, "n",
        "", "" },
    { "interface choice", InterfaceChoice, "", "", "" },
    { "upload", [] { return std::make_unique<TFormUpload>(); }, "t", "", "" },
    { "editor", [] { return std::make_unique<TFormMemo>(); }, "", "Memo1", "" },
    { "finder", Finder, "c", "", "ListBox1" },
    { "message box",
        [] {
            return UserDialogs::NewMessageBox(nullptr, QMessageBox::Warning,
                Translated("TFormIpSettings", "Warning"),
                Translated("TFormIpSettings",
                    "Please assert that a DHCP server is running in your LAN and you can retreive the IP "
                    "address, that it will assign to the amplifier."),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        },
        "", "", "" },
    { "query",
        [] {
            return UserDialogs::NewInputQuery(nullptr, Translated("TFormIpSettings", "Command"),
                Translated("TFormIpSettings", "Enter Test Command to Amplifier"), "$$$VER?", 255);
        },
        "", "", "" },
};

QAccessibleInterface* Accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString AccessibleName(QObject* object)
{
    QAccessibleInterface* iface = Accessible(object);
    return iface != nullptr ? iface->text(QAccessible::Name) : QString();
}

QString WithoutAmpersand(QString text)
{
    return text.remove(QRegularExpression("&(?!&)"));
}

// The letter after a single "&", lower case; empty when there is none.
QString AccessKey(const QString& text)
{
    const QRegularExpressionMatch match = QRegularExpression("(?:^|[^&])&([^&])").match(text);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

// The controls of the window that Tab or a click can give the keyboard to.
QList<QWidget*> Reachable(QWidget& window)
{
    QList<QWidget*> reachable;
    for (QWidget* widget : window.findChildren<QWidget*>())
        if (widget->isVisibleTo(&window) && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)
            && widget->window() == &window)
            reachable << widget;
    return reachable;
}

struct Shown {
    std::unique_ptr<QWidget> window;
};

Shown Show(const WindowCase& c)
{
    Shown shown { c.make() };
    shown.window->show();
    QApplication::setActiveWindow(shown.window.get());
    EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == shown.window.get(); }))
        << "the window never became active";
    return shown;
}

TEST(FormsAccessibility, EveryWindowIsAnnouncedWithItsCaption)
{
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        QAccessibleInterface* window = Accessible(shown.window.get());
        ASSERT_NE(window, nullptr);
        const QAccessible::Role role = window->role();
        EXPECT_TRUE(
            role == QAccessible::Window || role == QAccessible::Dialog || role == QAccessible::AlertMessage)
            << "role " << role;
        // Named by its caption, unless the caption says little: the upload's reads "FormUpload".
        const QString name = window->text(QAccessible::Name);
        if (std::string(c.window) == "upload")
            EXPECT_EQ(name, Translated("TFormUpload", "Upload a file to the amplifier"));
        else
            EXPECT_EQ(name, shown.window->windowTitle());
        EXPECT_FALSE(name.isEmpty());
    }
}

// A field's text is one run of attributes from the first character to the last: a screen reader
// assembles the line it reads from the runs (Qt's own runs are empty and lose the last character).
TEST(FormsAccessibility, FieldsReadTheirWholeValue)
{
    TFormIpSettings dialog(nullptr, std::string());
    dialog.EditIP->setText("198.18.1.51");
    dialog.EditIP->selectAll();
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(dialog.EditIP);
    ASSERT_NE(field, nullptr);
    QAccessibleTextInterface* text = field->textInterface();
    ASSERT_NE(text, nullptr);
    ASSERT_EQ(text->characterCount(), 11);
    for (int offset : { 0, 5, 10 }) {
        int start = -1;
        int end = -1;
        text->attributes(offset, &start, &end);
        EXPECT_EQ(start, 0) << offset;
        EXPECT_EQ(end, 11) << offset;
    }
    EXPECT_EQ(text->text(0, 11), "198.18.1.51");
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(0, 11));
    EXPECT_EQ(field->text(QAccessible::Value), "198.18.1.51");
    EXPECT_EQ(field->text(QAccessible::Name), Translated("TFormIpSettings", "I&P Address:").remove('&'));
    EXPECT_EQ(field->role(), QAccessible::EditableText);
    QAccessibleEditableTextInterface* editable = field->editableTextInterface();
    ASSERT_NE(editable, nullptr);
    editable->replaceText(9, 11, "7");
    EXPECT_EQ(dialog.EditIP->text(), "198.18.1.7");
}

TEST(FormsAccessibility, EveryReachableControlHasANameThatSaysWhatItIs)
{
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        QList<QWidget*> named = Reachable(*shown.window);
        // Shown to the user without taking the keyboard: named too.
        for (QWidget* widget : shown.window->findChildren<QProgressBar*>())
            named << widget;
        ASSERT_FALSE(named.isEmpty());
        for (QWidget* widget : named) {
            const QString name = AccessibleName(widget);
            // A name of punctuation alone ("...") tells nothing.
            EXPECT_TRUE(name.contains(QRegularExpression("\\w{2}")))
                << widget->metaObject()->className() << " " << widget->objectName().toStdString()
                << " is named \"" << name.toStdString() << "\"";
        }
    }
}

TEST(FormsAccessibility, ButtonsWhoseCaptionSaysLittleAreDescribed)
{
    const std::unique_ptr<TFormUpload> upload = std::make_unique<TFormUpload>();
    QAccessibleInterface* browse = Accessible(upload->ButtonSelectFilename);
    EXPECT_EQ(browse->text(QAccessible::Name), Language.isEmpty() ? "Browse" : "Durchsuchen");
    EXPECT_EQ(browse->text(QAccessible::Description),
        Language.isEmpty() ? "Choose the file to upload" : "Die hochzuladende Datei auswählen");
}

TEST(FormsAccessibility, FieldLabelsAreTiedToTheirFields)
{
    int tied = 0;
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        for (QLabel* label : shown.window->findChildren<QLabel*>()) {
            const QString text = WithoutAmpersand(label->text()).trimmed();
            if (!label->isVisibleTo(shown.window.get())
                || !(text.endsWith(':') || !AccessKey(label->text()).isEmpty()))
                continue;
            SCOPED_TRACE(text.toStdString());
            QWidget* field = label->buddy();
            ASSERT_NE(field, nullptr) << "a field's label without its field";
            // List views ignore a label: they carry the label's words as their own name.
            QString words = text;
            words.chop(words.endsWith(':') ? 1 : 0);
            // Qt names a combo box on Linux by its value; its label reaches it through the relation.
            if (qobject_cast<QComboBox*>(field) == nullptr) {
                EXPECT_TRUE(AccessibleName(field).startsWith(words)) << AccessibleName(field).toStdString();
            }
            if (qobject_cast<QAbstractItemView*>(field) == nullptr) {
                bool labelled = false;
                for (const auto& [other, relation] : Accessible(field)->relations(QAccessible::Label))
                    labelled = labelled || other->object() == label;
                EXPECT_TRUE(labelled) << "the field does not name its label";
            }
            ++tied;
        }
    }
    EXPECT_GE(tied, 11);
}

// Access keys of the window itself (buttons, labels, check boxes, menu titles) and, separately, of
// each of its menus.
std::map<QString, QList<QObject*>> AccessKeys(QWidget& window)
{
    std::map<QString, QList<QObject*>> keys;
    const auto add = [&](const QString& text, QObject* owner) {
        if (const QString key = AccessKey(text); !key.isEmpty())
            keys[key] << owner;
    };
    for (QAbstractButton* button : window.findChildren<QAbstractButton*>())
        if (button->isVisibleTo(&window))
            add(button->text(), button);
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->isVisibleTo(&window) && label->buddy() != nullptr)
            add(label->text(), label);
    for (QMenuBar* bar : window.findChildren<QMenuBar*>())
        for (QAction* action : bar->actions())
            add(action->text(), action);
    return keys;
}

TEST(FormsAccessibility, AccessKeysAreUniqueAndSharedOnesReachEachOfTheirControls)
{
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        QString shared;
        for (const auto& [key, owners] : AccessKeys(*shown.window)) {
            if (owners.size() > 1)
                shared += key;
        }
        EXPECT_EQ(shared, Language.isEmpty() ? c.sharedKeys : QString());
        for (QMenu* menu : shown.window->findChildren<QMenu*>()) {
            std::map<QString, int> inMenu;
            for (QAction* action : menu->actions())
                if (const QString key = AccessKey(action->text()); !key.isEmpty()) {
                    EXPECT_EQ(++inMenu[key], 1)
                        << "key " << key.toStdString() << " twice in " << menu->objectName().toStdString();
                }
        }
        // A key two controls share moves the focus to one, then the other: none is out of reach.
        for (const QChar key : shared) {
            QSet<QWidget*> targets;
            const auto keys = AccessKeys(*shown.window);
            for (QObject* owner : keys.at(key)) {
                auto* label = qobject_cast<QLabel*>(owner);
                targets << (label != nullptr ? label->buddy() : qobject_cast<QWidget*>(owner));
            }
            QSet<QWidget*> reached;
            for (int press = 0; press < targets.size(); ++press) {
                QTest::keyClick(shown.window.get(), key.toLatin1(), Qt::AltModifier);
                reached << QApplication::focusWidget();
            }
            EXPECT_EQ(reached, targets) << "Alt+" << QString(key).toStdString();
        }
    }
}

TEST(FormsAccessibility, TabLeavesEveryControlThatDoesNotTypeIt)
{
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        const QList<QWidget*> reachable = Reachable(*shown.window);
        for (QWidget* control : reachable) {
            SCOPED_TRACE(control->objectName().toStdString());
            control->setFocus(Qt::TabFocusReason);
            ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == control; }))
                << "focus never arrived";
            if (*c.keepsTab != '\0' && control->objectName() == c.keepsTab) {
                QTest::keyClick(control, Qt::Key_Tab);
                EXPECT_EQ(QApplication::focusWidget(), control) << "Tab must type here";
                QTest::keyClick(control, Qt::Key_Tab, Qt::ControlModifier);
                EXPECT_EQ(QApplication::focusWidget(), NextTabStop(control)) << "Ctrl+Tab leaves";
                control->setFocus(Qt::TabFocusReason);
                QTest::keyClick(control, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
                EXPECT_NE(QApplication::focusWidget(), control) << "Ctrl+Shift+Tab leaves backwards";
                EXPECT_EQ(NextTabStop(QApplication::focusWidget()), control)
                    << "Ctrl+Shift+Tab leaves backwards";
                continue;
            }
            QTest::keyClick(control, Qt::Key_Tab);
            if (reachable.size() > 1) {
                EXPECT_NE(QApplication::focusWidget(), control) << "Tab stays";
            }
            EXPECT_EQ(QApplication::focusWidget(), NextTabStop(control));
        }
    }
}

TEST(FormsAccessibility, ContextMenusOpenByTheMenuKeyAndShiftF10)
{
    for (const WindowCase& c : Windows) {
        if (*c.listWithMenu == '\0')
            continue;
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        auto* list = shown.window->findChild<QAbstractItemView*>(c.listWithMenu);
        ASSERT_NE(list, nullptr);
        auto* menu = shown.window->findChild<QMenu*>("PopupMenu1");
        ASSERT_NE(menu, nullptr);
        list->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == list; })) << "focus never arrived";
        list->setCurrentIndex(list->model()->index(0, 0));
        ASSERT_TRUE(list->selectionModel()->hasSelection());
        for (const auto& [key, modifiers] :
            { std::pair { Qt::Key_Menu, Qt::NoModifier }, std::pair { Qt::Key_F10, Qt::ShiftModifier } }) {
            QTest::keyClick(list, key, modifiers);
            EXPECT_TRUE(WaitFor([&] { return menu->isVisible(); })) << "no menu by key " << key;
            menu->hide();
            ASSERT_TRUE(WaitFor([&] { return !menu->isVisible(); }));
        }
        // The request the X11 platform makes of the Menu key, at the pointer: the menu opens at the
        // current row all the same, and once.
        int opened = 0;
        const auto counting = QObject::connect(menu, &QMenu::aboutToShow, [&] { ++opened; });
        QContextMenuEvent request(QContextMenuEvent::Keyboard, QPoint(1, 1), list->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(list, &request);
        EXPECT_TRUE(WaitFor([&] { return menu->isVisible(); })) << "no menu by the platform's request";
        EXPECT_EQ(opened, 1);
        EXPECT_TRUE(menu->geometry().contains(
            list->viewport()->mapToGlobal(list->visualRect(list->currentIndex()).center())))
            << "the menu is not at the current row";
        QObject::disconnect(counting);
        menu->hide();
    }
}

// Where the style draws a button's or check box's caption.
QRect CaptionRoom(const QAbstractButton& button, QStyle::SubElement element)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    return button.style()->subElementRect(element, &option, &button);
}

TEST(FormsAccessibility, EveryTextFitsItsControlAtThisScale)
{
    SCOPED_TRACE("QT_SCALE_FACTOR=" + qEnvironmentVariable("QT_SCALE_FACTOR", "1").toStdString());
    int measured = 0;
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        Shown shown = Show(c);
        QWidget& window = *shown.window;
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (!label->isVisibleTo(&window) || label->text().isEmpty() || label->pixmap().cacheKey() != 0)
                continue;
            SCOPED_TRACE(label->text().toStdString());
            if (label->wordWrap()) {
                EXPECT_LE(label->heightForWidth(label->width()), label->height());
            } else {
                EXPECT_LE(label->sizeHint().width(), label->width());
                EXPECT_LE(label->sizeHint().height(), label->height());
                // and the window does not cut it off at its edge (a longer translation might)
                EXPECT_LE(label->mapTo(&window, QPoint(label->sizeHint().width(), 0)).x(), window.width());
            }
            ++measured;
        }
        for (QPushButton* button : window.findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(&window))
                continue;
            const QFontMetrics metrics(button->font());
            const QRect room = CaptionRoom(*button, QStyle::SE_PushButtonContents);
            EXPECT_LE(metrics.horizontalAdvance(WithoutAmpersand(button->text())), room.width())
                << button->text().toStdString();
            EXPECT_LE(metrics.height(), room.height()) << button->text().toStdString();
            ++measured;
        }
        for (QCheckBox* box : window.findChildren<QCheckBox*>()) {
            const QFontMetrics metrics(box->font());
            const QRect room = CaptionRoom(*box, QStyle::SE_CheckBoxContents);
            EXPECT_LE(room.left() + metrics.horizontalAdvance(WithoutAmpersand(box->text())), box->width())
                << box->text().toStdString();
            EXPECT_LE(metrics.height(), box->height()) << box->text().toStdString();
            ++measured;
        }
        for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
            EXPECT_LE(QFontMetrics(group->font()).horizontalAdvance(group->title()), group->width());
            ++measured;
        }
        for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
            if (edit->isVisibleTo(&window)) {
                EXPECT_LE(edit->minimumSizeHint().height(), edit->height())
                    << edit->objectName().toStdString();
            }
        }
        for (QHeaderView* header : window.findChildren<QHeaderView*>()) {
            if (!header->isVisibleTo(&window) || header->orientation() != Qt::Horizontal)
                continue;
            for (int section = 0; section < header->count(); ++section) {
                const QString caption = header->model()->headerData(section, Qt::Horizontal).toString();
                EXPECT_LE(
                    QFontMetrics(header->font()).horizontalAdvance(caption), header->sectionSize(section))
                    << caption.toStdString();
                ++measured;
            }
        }
    }
    EXPECT_GE(measured, 30);
}

// WCAG's contrast ratio of two colours: 1 (none) to 21 (black on white).
double Contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& colour) {
        const auto channel = [](double value) {
            return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF())
            + 0.0722 * channel(colour.blueF());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return la > lb ? la / lb : lb / la;
}

// As a dark desktop theme gives it: derived from a dark button colour, with a dark selection.
QPalette Dark()
{
    QPalette palette(QColor(45, 45, 48));
    palette.setColor(QPalette::Highlight, QColor(38, 79, 120));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

QPalette HighContrast()
{
    QPalette palette(Qt::black);
    palette.setColor(QPalette::Highlight, Qt::yellow);
    palette.setColor(QPalette::HighlightedText, Qt::black);
    return palette;
}

// Text and ground of each kind of control, as the style paints them.
std::pair<QPalette::ColorRole, QPalette::ColorRole> TextAndGround(QWidget* widget)
{
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractScrollArea*>(widget))
        return { QPalette::Text, QPalette::Base };
    if (qobject_cast<QPushButton*>(widget) || qobject_cast<QComboBox*>(widget))
        return { QPalette::ButtonText, QPalette::Button };
    return { QPalette::WindowText, QPalette::Window };
}

TEST(FormsAccessibility, TextStaysReadableInADarkAndAHighContrastPalette)
{
    const QPalette desktop = QApplication::palette();
    for (const auto& [paletteName, palette] :
        { std::pair { "dark", Dark() }, std::pair { "high contrast", HighContrast() } }) {
        SCOPED_TRACE(paletteName);
        QApplication::setPalette(palette);
        for (const WindowCase& c : Windows) {
            SCOPED_TRACE(c.window);
            Shown shown = Show(c);
            for (QWidget* widget : shown.window->findChildren<QWidget*>()) {
                if (!widget->isVisibleTo(shown.window.get()) || !widget->isEnabled())
                    continue;
                const QPalette& own = widget->palette();
                const auto [text, ground] = TextAndGround(widget);
                EXPECT_GE(
                    Contrast(own.color(QPalette::Active, text), own.color(QPalette::Active, ground)), 4.5)
                    << widget->metaObject()->className() << " " << widget->objectName().toStdString();
                if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
                    for (const QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive }) {
                        EXPECT_GE(Contrast(own.color(group, QPalette::HighlightedText),
                                      own.color(group, QPalette::Highlight)),
                            4.5)
                            << "selected rows of " << view->objectName().toStdString() << " in group "
                            << group;
                    }
                }
            }
        }
    }
    QApplication::setPalette(desktop);
}

TEST(FormsAccessibility, TheSelectedAmplifierStaysMarkedUnfocusedAfterTheThemeChangesWhileOpen)
{
    const QPalette desktop = QApplication::palette();
    const std::unique_ptr<QWidget> window = MainWindow();
    auto* list = window->findChild<QAbstractItemView*>("ListView1");
    ASSERT_NE(list, nullptr);
    for (QPalette theme : { Dark(), HighContrast(), desktop }) {
        // Themes give unfocused selections a paler colour, which the list does not take.
        theme.setColor(QPalette::Inactive, QPalette::Highlight, QColor(90, 90, 90));
        theme.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(200, 200, 200));
        QApplication::setPalette(theme);
        QApplication::processEvents(); // the change reaches the widgets as posted events
        for (const QPalette::ColorRole role : { QPalette::Highlight, QPalette::HighlightedText }) {
            const QColor active = theme.color(QPalette::Active, role);
            EXPECT_EQ(list->palette().color(QPalette::Active, role).name(), active.name()) << "role " << role;
            EXPECT_EQ(list->palette().color(QPalette::Inactive, role).name(), active.name()) << "role " << role;
        }
    }
    QApplication::setPalette(desktop);
    QApplication::processEvents();
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    Language = InstallTranslations(application);
    return RUN_ALL_TESTS();
}
