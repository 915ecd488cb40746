// Enter in every window of the program: a focused push button takes it, the default button only
// when the focus is on a control that is not a push button. The buttons' handlers are taken off,
// so that only which button was pressed is seen (no upload or test connection starts).

#include "gotoproj/Fgotoprojdlg.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

struct WindowCase {
    const char* window;
    std::function<std::unique_ptr<QDialog>()> make;
    const char* otherControl; // not a push button; none in the editor, whose memo takes Enter
    const char* defaultButton; // what Enter there presses; empty: nothing
};

const WindowCase Windows[] = {
    { "finder", [] { return std::make_unique<TFormGotoProj>(nullptr, "/nonexistent"); }, "EditAmpSN",
        "ButtonOk" },
    { "IP settings", [] { return std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN); },
        "EditIP", "ButtonOK" },
    { "interface choice", [] { return std::make_unique<TFormSelIpAddr>(); }, "ComboBoxLocalAddrs",
        "ButtonOK" },
    { "upload", [] { return std::make_unique<TFormUpload>(); }, "EditFilename", "" },
    { "editor", [] { return std::make_unique<TFormMemo>(); }, "", "" },
};

TEST(FocusedButtonEnter, EnterPressesTheFocusedButtonInEveryWindow)
{
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        const std::unique_ptr<QDialog> window = c.make();
        window->show();
        QApplication::setActiveWindow(window.get());
        QStringList pressed;
        const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
        ASSERT_GE(buttons.size(), 2);
        for (QPushButton* button : buttons) {
            QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
            QObject::connect(button, &QPushButton::clicked, [&, button] { pressed << button->objectName(); });
        }
        const auto enterOn = [&](QWidget* focused, Qt::Key key) {
            pressed.clear();
            focused->setFocus(Qt::TabFocusReason);
            EXPECT_EQ(QApplication::focusWidget(), focused);
            QTest::keyClick(focused, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            return pressed;
        };
        for (QPushButton* button : buttons) {
            for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Enter }) {
                if (button->isVisible()) {
                    EXPECT_EQ(enterOn(button, key), QStringList { button->objectName() }) << key;
                }
            }
        }
        // A button hidden while its window is inactive stays the window's focused control; Enter
        // reaching the window then never presses it.
        for (QPushButton* button : buttons) {
            SCOPED_TRACE(button->objectName().toStdString());
            const bool shown = button->isVisible();
            button->setFocus(Qt::TabFocusReason);
            QApplication::setActiveWindow(nullptr);
            button->hide();
            EXPECT_EQ(window->focusWidget(), button);
            pressed.clear();
            QTest::keyClick(window.get(), Qt::Key_Return);
            EXPECT_FALSE(pressed.contains(button->objectName()));
            button->setVisible(shown);
            QApplication::setActiveWindow(window.get());
        }
        if (*c.otherControl != '\0') {
            EXPECT_EQ(enterOn(window->findChild<QWidget*>(c.otherControl), Qt::Key_Return),
                *c.defaultButton ? QStringList { c.defaultButton } : QStringList {});
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
