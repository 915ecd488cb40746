// Folder properties through a file manager on a private D-Bus session bus, and our own properties
// window where none answers.

#include "gui/DesktopActions.h"
#include "support/QtWait.h"
#include "support/TempTree.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace {

// Stands in for the desktop's file manager on the bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public slots:
    void ShowItemProperties(const QStringList& uris, const QString& startupId)
    {
        shown += uris;
        Q_UNUSED(startupId);
    }

public:
    QStringList shown;
};

extern "C" char** environ;
std::string BusAddress;
pid_t BusPid = 0;

// The own properties windows that are open.
QList<QDialog*> OwnPropertiesWindows()
{
    QList<QDialog*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "FolderPropertiesDialog" && widget->isVisible())
            found << static_cast<QDialog*>(widget);
    return found;
}

class FolderPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(tree.Root().empty());
        DesktopActions::SetRecording(false);
    }
    void TearDown() override
    {
        for (QDialog* window : OwnPropertiesWindows())
            window->close();
        QCoreApplication::processEvents();
    }
    TempTree tree { "tovrin-props" };
};

TEST_F(FolderPropertiesTest, TheFileManagerIsAskedOverTheBus)
{
    if (BusAddress.empty())
        GTEST_SKIP() << "dbus-daemon could not be started";
    QDBusConnection fake
        = QDBusConnection::connectToBus(QString::fromStdString(BusAddress), "fake-file-manager");
    ASSERT_TRUE(fake.isConnected());
    FakeFileManager manager;
    ASSERT_TRUE(
        fake.registerObject("/org/freedesktop/FileManager1", &manager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(fake.registerService("org.freedesktop.FileManager1"));

    const QString folder = QString::fromStdString(tree.Folder("1395 Amp")) + "/";
    DesktopActions::ShowProperties(nullptr, folder);
    ASSERT_TRUE(WaitFor([&] { return !manager.shown.isEmpty(); }));
    ASSERT_EQ(manager.shown.size(), 1);
    EXPECT_EQ(QUrl(manager.shown[0]).scheme(), "file");
    EXPECT_EQ(QUrl(manager.shown[0]).toLocalFile(), folder);
    QTest::qWait(100);
    EXPECT_TRUE(OwnPropertiesWindows().isEmpty());

    fake.unregisterService("org.freedesktop.FileManager1");
    fake.unregisterObject("/org/freedesktop/FileManager1");
    QDBusConnection::disconnectFromBus("fake-file-manager");
}

TEST_F(FolderPropertiesTest, WithoutAFileManagerOurOwnWindowShowsTheFacts)
{
    if (BusAddress.empty())
        GTEST_SKIP() << "dbus-daemon could not be started";
    tree.Folder("Tools/a");
    tree.File("Tools/b.txt");
    chmod(tree.Path("Tools").c_str(), 0750);
    DesktopActions::ShowProperties(nullptr, QString::fromStdString(tree.Path("Tools/")));
    ASSERT_TRUE(WaitFor([] { return !OwnPropertiesWindows().isEmpty(); }));
    QPointer<QDialog> shown = OwnPropertiesWindows().front();
    const auto text = [&](const char* name) {
        const auto* label = shown->findChild<QLabel*>(name);
        return label != nullptr ? label->text() : QString("(missing)");
    };
    EXPECT_EQ(text("LabelPath").toStdString(), tree.Path("Tools/"));
    EXPECT_EQ(text("LabelPermissions"), "drwxr-x--- (750)");
    EXPECT_EQ(text("LabelEntries"), "2");
    EXPECT_FALSE(text("LabelOwner").isEmpty());
    EXPECT_EQ(shown->findChild<QLabel*>("LabelPath")->textFormat(), Qt::PlainText);

    // A screen reader reaches every fact by Tab from the path, and reads them all as one text.
    QStringList reached;
    for (QWidget* at = shown->focusWidget(); at != nullptr && reached.size() < 8; at = at->nextInFocusChain()) {
        if (at->focusPolicy() & Qt::TabFocus)
            reached << at->objectName();
        if (at->nextInFocusChain() == shown->focusWidget())
            break;
    }
    EXPECT_EQ(reached.mid(0, 5),
        (QStringList { "LabelPath", "LabelOwner", "LabelPermissions", "LabelModified", "LabelEntries" }));
    const QString description = shown->accessibleDescription();
    EXPECT_TRUE(description.startsWith("Path: " + text("LabelPath") + "\n")) << description.toStdString();
    EXPECT_TRUE(description.contains("Permissions: drwxr-x--- (750)\n")) << description.toStdString();
    EXPECT_TRUE(description.endsWith("Entries: 2")) << description.toStdString();
    shown->close();
    EXPECT_TRUE(WaitFor([&] { return shown.isNull(); })) << "deletes itself when closed";
}

TEST_F(FolderPropertiesTest, AFolderThatIsGoneShowsTheReason)
{
    QPointer<QDialog> shown
        = DesktopActions::ShowOwnProperties(nullptr, QString::fromStdString(tree.Path("gone/")));
    ASSERT_TRUE(shown);
    const auto* error = shown->findChild<QLabel*>("LabelError");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->text(), "No such file or directory");
    shown->close();
}

// A session bus of the test's own, so that no desktop on this machine is asked. The daemon is the
// test's child and is ended and reaped by it.
void StartPrivateBus()
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char* argv[] = { const_cast<char*>("dbus-daemon"), const_cast<char*>("--session"),
        const_cast<char*>("--nofork"), const_cast<char*>("--print-address=1"), nullptr };
    const bool spawned = posix_spawnp(&BusPid, "dbus-daemon", &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (!spawned) {
        BusPid = 0;
        close(pipeFds[0]);
        return;
    }
    std::string address;
    char c = 0;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
        address += c;
    close(pipeFds[0]);
    if (address.empty())
        return;
    BusAddress = address;
    setenv("DBUS_SESSION_BUS_ADDRESS", BusAddress.c_str(), 1);
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    StartPrivateBus();
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (BusPid > 0) {
        kill(BusPid, SIGTERM);
        waitpid(BusPid, nullptr, 0);
    }
    return result;
}

#include "test_FolderProperties.moc"
