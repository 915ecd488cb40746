// The upload dialog, headless: its layout, the file choice, an upload to a simulated amplifier on
// loopback with the window alive meanwhile, and the main window's "Upload File..." item.

#include "upload/Fupload.h"

#include "finder/Ftovrin.h"
#include "gui/Announcer.h"
#include "gui/GlobalForm.h"
#include "gui/ProcessEnd.h"
#include "gui/UserDialogs.h"
#include "platform/UniqueFd.h"
#include "support/CommandSimulator.h"
#include "tools/ampsim/Ampsim.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

class FuploadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UserDialogs::TakeAsked();
        std::string pattern = (fs::temp_directory_path() / "tovrin-fupload-XXXXXX").string();
        folder = mkdtemp(pattern.data()) ? pattern : std::string();
        ASSERT_FALSE(folder.empty());
    }
    void TearDown() override
    {
        UserDialogs::TakeAsked();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    std::string File(const std::string& name, size_t size)
    {
        std::string bytes(size, '\0');
        std::mt19937 random(11);
        for (char& byte : bytes)
            byte = static_cast<char>(random());
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        checksum = ampsim::Fnv1a64(bytes);
        return path;
    }

    // One simulated amplifier on loopback, command port only.
    std::unique_ptr<ampsim::Simulator> Simulator(const std::function<void(ampsim::Amplifier&)>& faults = {})
    {
        auto sim = LoopbackCommandSimulator(faults);
        std::string error;
        EXPECT_TRUE(sim->Start(error)) << error;
        return sim;
    }

    static QStringList LogLines(const TFormUpload& dialog)
    {
        return dialog.MemoLog->toPlainText().split('\n', Qt::SkipEmptyParts);
    }

    std::string folder;
    uint64_t checksum = 0;
};

// What the dialog's notices said last: spoken, or waiting for the dialog to be in front.
QString Said(const TFormUpload& dialog)
{
    return dialog.Announcer->Waiting().isEmpty() ? dialog.Announcer->Last() : dialog.Announcer->Waiting();
}

TEST_F(FuploadTest, LayoutCaptionsAndTabOrder)
{
    TFormUpload dialog;
    EXPECT_EQ(dialog.windowTitle(), "FormUpload");
    EXPECT_EQ(dialog.size(), QSize(475, 408));
    const auto label = [&](const char* name) { return dialog.findChild<QLabel*>(name); };
    ASSERT_NE(label("Label2"), nullptr);
    EXPECT_EQ(label("Label2")->text(), "&Target Address:");
    EXPECT_EQ(label("Label2")->buddy(), dialog.EditIP);
    EXPECT_EQ(label("LabelFilename")->text(), "Source Filename:");
    EXPECT_EQ(label("Label1")->text(), "&Target Path:");
    EXPECT_EQ(label("Label1")->buddy(), dialog.EditTargetname);
    EXPECT_EQ(dialog.EditTargetname->text(), "/tmp/");
    EXPECT_EQ(dialog.ButtonSelectFilename->text(), "...");
    EXPECT_EQ(dialog.Button1->text(), "Upload");
    EXPECT_EQ(dialog.MemoLog->font().family(), "Lucida Console");

    EXPECT_EQ(dialog.EditIP->geometry(), QRect(100, 5, 324, 21));
    EXPECT_EQ(dialog.EditFilename->geometry(), QRect(100, 32, 324, 21));
    EXPECT_EQ(dialog.ButtonSelectFilename->geometry(), QRect(430, 30, 42, 25));
    EXPECT_EQ(dialog.Button1->geometry(), QRect(3, 86, 111, 36));
    EXPECT_EQ(dialog.MemoLog->geometry(), QRect(3, 128, 469, 277));

    // Tab order: file name, "...", target path, address, Upload, log.
    const std::vector<QWidget*> order { dialog.EditFilename, dialog.ButtonSelectFilename,
        dialog.EditTargetname, dialog.EditIP, dialog.Button1, dialog.MemoLog };
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next != nullptr && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << "after " << order[i]->objectName().toStdString();
    }
}

TEST_F(FuploadTest, ControlsFollowTheirAnchorsWhenTheDialogGrows)
{
    TFormUpload dialog;
    dialog.show();
    dialog.resize(575, 458);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.EditIP->geometry(), QRect(100, 5, 424, 21));
    EXPECT_EQ(dialog.EditTargetname->geometry(), QRect(100, 59, 424, 21));
    EXPECT_EQ(dialog.ButtonSelectFilename->geometry(), QRect(530, 30, 42, 25));
    EXPECT_EQ(dialog.Button1->geometry(), QRect(3, 86, 111, 36));
    EXPECT_EQ(dialog.MemoLog->geometry(), QRect(3, 128, 569, 327));
}

TEST_F(FuploadTest, SelectFilenameFillsTheFieldOnlyWhenConfirmed)
{
    TFormUpload dialog;
    dialog.EditFilename->setText("/old/fw.bin");
    UserDialogs::SetNextFileName("");
    QTest::mouseClick(dialog.ButtonSelectFilename, Qt::LeftButton);
    EXPECT_EQ(dialog.EditFilename->text(), "/old/fw.bin");

    UserDialogs::SetNextFileName("/new/app.bin");
    QTest::mouseClick(dialog.ButtonSelectFilename, Qt::LeftButton);
    EXPECT_EQ(dialog.EditFilename->text(), "/new/app.bin");
    const auto asked = UserDialogs::TakeAsked();
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0].kind, "open");
}

TEST_F(FuploadTest, UploadsToTheAmplifierWhileTheWindowStaysAlive)
{
    // Late replies make the exchange last long enough to look at the window meanwhile.
    auto sim = Simulator([](ampsim::Amplifier& amp) { amp.CommandDelayMs = 300; });
    const std::string file = File("app.bin", 300000);
    const std::string endpoint = "127.0.0.1:" + std::to_string(sim->CommandPort());

    TFormUpload dialog;
    dialog.ConnectionSettings.Port = sim->CommandPort();
    dialog.EditIP->setText("127.0.0.1");
    dialog.EditFilename->setText(QString::fromStdString(file));
    dialog.EditTargetname->setText("/somewhere/else/");
    dialog.MemoLog->setPlainText("earlier line");
    dialog.show();

    int ticks = 0;
    bool sawLogWhileRunning = false;
    bool buttonStopsWhileRunning = false;
    bool stayedOpen = true;
    QTimer watcher;
    watcher.setInterval(20);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!dialog.IsUploading())
            return;
        ++ticks;
        sawLogWhileRunning |= dialog.MemoLog->toPlainText().contains("Connected to");
        buttonStopsWhileRunning |= dialog.Button1->text() == "Stop" && dialog.Button1->isEnabled();
        // Closing the dialog may not happen while the upload runs.
        dialog.reject();
        stayedOpen &= dialog.isVisible();
    });
    watcher.start();
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    watcher.stop();

    EXPECT_GT(ticks, 5);
    EXPECT_TRUE(sawLogWhileRunning);
    EXPECT_TRUE(buttonStopsWhileRunning);
    EXPECT_EQ(dialog.Button1->text(), "Upload");
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(dialog.Button1->isEnabled());
    EXPECT_EQ(sim->Connections(), 1u);

    const QStringList lines = LogLines(dialog);
    ASSERT_EQ(lines.size(), 10) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "earlier line");
    EXPECT_EQ(lines[1], QString::fromStdString("Loaded file " + file + " (300000 bytes)."));
    EXPECT_EQ(lines[2], QString::fromStdString("Connected to " + endpoint + " ..."));
    EXPECT_EQ(lines[3], "$$$VER?");
    EXPECT_EQ(lines[5], "$$$FILE_UPLOAD:000493e0:/tmp/app.bin");
    EXPECT_EQ(lines[6], "FILE_UPLOAD_START");
    EXPECT_EQ(lines[7], "Sending done.");
    EXPECT_EQ(lines[9], QString::fromStdString("Disconnected from " + endpoint + "."));
    EXPECT_EQ(dialog.ProgressBarUpload->value(), dialog.ProgressBarUpload->maximum());
    // Size, time and rate of the data go on the bar, not into the log.
    EXPECT_TRUE(QRegularExpression("^300000 bytes in [0-9]+\\.[0-9]{3} s \\([0-9]+\\.[0-9] MB/s\\)$")
                    .match(dialog.ProgressBarUpload->text())
                    .hasMatch())
        << dialog.ProgressBarUpload->text().toStdString();
    EXPECT_TRUE(Said(dialog).contains("\n300000 bytes in ") && !Said(dialog).contains("Disconnected"))
        << Said(dialog).toStdString();

    const auto uploads = sim->Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].TargetPath, "/tmp/app.bin");
    EXPECT_EQ(uploads[0].Checksum, checksum);
    EXPECT_TRUE(uploads[0].Complete);

    // A second click appends a whole new exchange to the log.
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_EQ(LogLines(dialog).size(), 19);
    EXPECT_EQ(sim->Uploads().size(), 2u);

    if (const char* shots = std::getenv("TOVRIN_SCREENSHOT_DIR")) {
        dialog.MemoLog->setPlainText(lines.mid(1).join('\n'));
        QCoreApplication::processEvents();
        dialog.grab().save(QString::fromLocal8Bit(shots) + "/upload-dialog.png");
    }
}

TEST_F(FuploadTest, StopBreaksOffARunningUpload)
{
    // The amplifier never answers the version question; only Stop ends the wait early.
    auto sim = Simulator([](ampsim::Amplifier& amp) { amp.CommandSilent = true; });
    const std::string endpoint = "127.0.0.1:" + std::to_string(sim->CommandPort());
    TFormUpload dialog;
    dialog.ConnectionSettings.Port = sim->CommandPort();
    dialog.ConnectionSettings.ReplyTimeoutMs = 30000;
    dialog.EditIP->setText("127.0.0.1");
    dialog.EditFilename->setText(QString::fromStdString(File("fw.bin", 1000)));
    dialog.show();

    QTimer::singleShot(300, &dialog, [&] {
        ASSERT_TRUE(dialog.IsUploading());
        ASSERT_EQ(dialog.Button1->text(), "Stop");
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    });
    QElapsedTimer took;
    took.start();
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_LT(took.elapsed(), 2500);
    EXPECT_FALSE(dialog.IsUploading());
    const QStringList lines = LogLines(dialog);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], "Stopped while waiting for the version reply.");
    EXPECT_EQ(lines.back(), QString::fromStdString("Disconnected from " + endpoint + "."));
    EXPECT_EQ(Said(dialog), "Stopped while waiting for the version reply.") << "how it ended, not the disconnection";
    EXPECT_EQ(dialog.Button1->text(), "Upload");
    EXPECT_TRUE(dialog.Button1->isEnabled());
}

TEST_F(FuploadTest, FifoIsRefusedWithoutBlockingTheWindow)
{
    const std::string fifo = folder + "/fifo.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TFormUpload dialog;
    dialog.EditIP->setText("127.0.0.1");
    dialog.EditFilename->setText(QString::fromStdString(fifo));
    // Should the FIFO be opened after all, a writer releases it so that the failure shows.
    QTimer release;
    QObject::connect(
        &release, &QTimer::timeout, [&] { UniqueFd(open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); });
    release.start(3000);
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_EQ(LogLines(dialog),
        QStringList { QString::fromStdString("File " + fifo
            + " is not a regular file (a folder, a device or a pipe) and cannot be uploaded.") });
}

TEST_F(FuploadTest, MissingFileIsLoggedWithoutConnecting)
{
    auto sim = Simulator();
    TFormUpload dialog;
    dialog.ConnectionSettings.Port = sim->CommandPort();
    dialog.EditIP->setText("127.0.0.1");
    dialog.EditFilename->setText(QString::fromStdString(folder + "/missing.bin"));
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_EQ(LogLines(dialog),
        (QStringList { QString::fromStdString("Loading file " + folder + "/missing.bin failed."),
            "No such file or directory" }));
    EXPECT_EQ(sim->Connections(), 0u);
    EXPECT_TRUE(Said(dialog).contains("No such file or directory")) << Said(dialog).toStdString();
}

TEST_F(FuploadTest, MainWindowItemAimsTheDialogAtTheSelectedAmplifier)
{
    GlobalForm<TFormTovrin> mainWindow(FormTovrin);
    GlobalForm<TFormUpload> uploadDialog(FormUpload);
    FormTovrin->SuppressActivation();
    QAction* item = FormTovrin->findChild<QAction*>("MenuItemUpload");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Upload File...");
    EXPECT_TRUE(FormTovrin->PopupMenu1->actions().contains(item));

    FormTovrin->show();
    FormTovrin->move(20, 30); // away from the screen's centre, where a dialog without owner goes
    ASSERT_TRUE(QTest::qWaitForWindowActive(FormTovrin));

    QString shownWith;
    QPoint shownAt;
    const auto closeWhenShown = [&] {
        QTimer::singleShot(0, FormUpload, [&] {
            shownWith = FormUpload->EditIP->text();
            shownAt = FormUpload->geometry().center();
            FormUpload->reject();
        });
    };

    // No amplifier selected: the field keeps what it held.
    FormUpload->EditIP->setText("10.1.2.3");
    closeWhenShown();
    item->trigger();
    EXPECT_EQ(shownWith, "10.1.2.3");
    // Centred on the main window that opened it.
    EXPECT_LE((shownAt - FormTovrin->frameGeometry().center()).manhattanLength(), 4);

    const std::string reply = "0050C2A10001 0 192.168.1.20 255.255.255.0 0.0.0.0 Stage-Left";
    FormTovrin->DatagramReceived("192.168.1.20:8001", reply.c_str(), static_cast<int>(reply.size()));
    closeWhenShown();
    item->trigger();
    EXPECT_EQ(shownWith, "192.168.1.20");
}

} // namespace

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return EndBeforeWindowSystemTeardown(RUN_ALL_TESTS());
}
