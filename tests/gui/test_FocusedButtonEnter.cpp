// Enter in every window of the program: a focused push button takes it, the default button only
// when the focus is on a control that is not a push button. The buttons' own handlers are taken
// off, so that only which button was pressed is seen (no upload, no test connection starts).

#include "gotoproj/Fgotoprojdlg.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "support/TempTree.h"
#include "upload/Fupload.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace {

struct WindowCase {
    const char* window;
    std::function<std::unique_ptr<QDialog>(const std::string& driveRoot)> make;
    const char* otherControl; // a control that is not a push button
    const char* defaultButton; // pressed by Enter on otherControl; empty: the key presses nothing
};

const WindowCase Windows[] = {
    { "finder", [](const std::string& drive) { return std::make_unique<TFormGotoProj>(nullptr, drive); },
        "EditAmpSN", "ButtonOk" },
    { "IP settings",
        [](const std::string&) { return std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN); },
        "EditIP", "ButtonOK" },
    { "interface choice", [](const std::string&) { return std::make_unique<TFormSelIpAddr>(); },
        "ComboBoxLocalAddrs", "ButtonOK" },
    { "upload", [](const std::string&) { return std::make_unique<TFormUpload>(); }, "EditFilename", "" },
    // The editor's memo takes Enter as a new line.
    { "editor", [](const std::string&) { return std::make_unique<TFormMemo>(); }, "", "" },
};

// Each push button of the window with its handlers taken off and a spy on its clicks.
std::map<QString, std::unique_ptr<QSignalSpy>> SpyOnButtons(QDialog& window)
{
    std::map<QString, std::unique_ptr<QSignalSpy>> spies;
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
        QObject::disconnect(button, &QPushButton::clicked, nullptr, nullptr);
        spies[button->objectName()] = std::make_unique<QSignalSpy>(button, &QPushButton::clicked);
    }
    return spies;
}

// The buttons pressed since the last call, by name.
QStringList Pressed(std::map<QString, std::unique_ptr<QSignalSpy>>& spies)
{
    QStringList pressed;
    for (auto& [name, spy] : spies) {
        for (qsizetype i = 0; i < spy->count(); ++i)
            pressed << name;
        spy->clear();
    }
    return pressed;
}

TEST(FocusedButtonEnter, EnterPressesTheFocusedButtonInEveryWindow)
{
    TempTree drive { "tovrin-enter" };
    for (const WindowCase& c : Windows) {
        SCOPED_TRACE(c.window);
        const std::unique_ptr<QDialog> window = c.make(drive.Root());
        window->show();
        QApplication::setActiveWindow(window.get());
        auto spies = SpyOnButtons(*window);
        ASSERT_GE(spies.size(), 2u);
        for (const auto& [name, spy] : spies) {
            auto* button = window->findChild<QPushButton*>(name);
            if (!button->isVisible())
                continue;
            for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Enter }) {
                button->setFocus(Qt::TabFocusReason);
                ASSERT_EQ(QApplication::focusWidget(), button) << name.toStdString();
                QTest::keyClick(button, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
                EXPECT_EQ(Pressed(spies), QStringList { name }) << name.toStdString() << " key " << key;
            }
        }
        if (*c.otherControl == '\0')
            continue;
        auto* other = window->findChild<QWidget*>(c.otherControl);
        ASSERT_NE(other, nullptr);
        other->setFocus(Qt::TabFocusReason);
        QTest::keyClick(other, Qt::Key_Return);
        EXPECT_EQ(Pressed(spies), *c.defaultButton ? QStringList { c.defaultButton } : QStringList {});
    }
}

TEST(FocusedButtonEnter, CancelInTheEditorClosesWithCancelAndKeepsTheText)
{
    TFormMemo editor;
    editor.show();
    QApplication::setActiveWindow(&editor);
    editor.Memo1->setPlainText("edited");
    editor.ButtonOk->setFocus(Qt::TabFocusReason);
    QTest::keyClick(editor.ButtonOk, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), editor.ButtonCancel);
    QTest::keyClick(editor.ButtonCancel, Qt::Key_Return);
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), TFormMemo::ModalCancel);
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
