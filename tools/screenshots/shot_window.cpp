// Shows one of the program's windows by itself, for screenshots (tools/screenshots/shot_windows.sh)
// and for the test through the accessibility bus (tests/a11y/atspi-windows.sh):
//   shot_window [--dark] WINDOW [DRIVE PATTERN]
// WINDOW is main (a few amplifiers, no network), ipsettings, selipaddr, upload, memo, finder
// (searching PATTERN on the folder DRIVE), message or query. --dark gives the program a dark
// palette, as a dark desktop theme would. The window opens at 20,20; "ready" is printed once it is
// shown, and it stays until it is ended.

#include "finder/Ftovrin.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gui/Translations.h"
#include "gui/UserDialogs.h"
#include "ipsettings/Fipsettings.h"
#include "ipsettings/Fselipaddr.h"
#include "memo/Fmemo.h"
#include "upload/Fupload.h"

#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<QWidget> MainWindow()
{
    auto window = std::make_unique<TFormTovrin>();
    // Shown without a worker: the rows come from replies handed to it directly.
    window->SuppressActivation();
    for (const char* reply : { "0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left",
             "0A1B2D 1 198.18.1.2 255.255.0.0 0.0.0.0 Stage-Right",
             "0A1B2E 0 198.18.1.3 255.255.0.0 0.0.0.0 FOH-Rack-1" })
        window->DatagramReceived("198.18.1.1:8001", reply, static_cast<int>(std::strlen(reply)));
    return window;
}

std::unique_ptr<QWidget> MakeWindow(const std::string& name, const std::vector<std::string>& rest)
{
    if (name == "main")
        return MainWindow();
    if (name == "ipsettings") {
        auto dialog = std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN);
        dialog->EditMac->setText("0A1B2C");
        dialog->EditName->setText("Stage-Left");
        dialog->EditIP->setText("198.18.1.1");
        dialog->EditNM->setText("255.255.0.0");
        dialog->EditGW->setText("0.0.0.0");
        return dialog;
    }
    if (name == "selipaddr") {
        auto dialog = std::make_unique<TFormSelIpAddr>();
        dialog->ComboBoxLocalAddrs->addItems({ "198.18.0.1", "192.168.1.20" });
        return dialog;
    }
    if (name == "upload") {
        auto dialog = std::make_unique<TFormUpload>();
        dialog->EditIP->setText("198.18.1.1");
        dialog->EditFilename->setText("/home/staff/firmware/amp4x-2.4.1.bin");
        dialog->AddLogLine("Loaded file /home/staff/firmware/amp4x-2.4.1.bin (3145728 bytes).");
        return dialog;
    }
    if (name == "memo") {
        auto dialog = std::make_unique<TFormMemo>();
        dialog->setWindowTitle("/home/staff/.config/tovrin/Tovrin_Cmds.txt");
        dialog->SetText("&Ping | ping -c 4 <IP>\r\nAmplifier &web page | http://<IP>/\r\n");
        return dialog;
    }
    if (name == "finder" && rest.size() == 2) {
        auto dialog = std::make_unique<TFormGotoProj>(nullptr, rest[0]);
        dialog->EditAmpSN->setText(QString::fromStdString(rest[1]));
        return dialog;
    }
    if (name == "message")
        return UserDialogs::NewMessageBox(nullptr, QMessageBox::Question,
            QCoreApplication::translate("TFormTovrin", "Confirm"),
            QCoreApplication::translate("TFormTovrin", "Apply settings? (Target will reboot, stand by)"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (name == "query")
        return UserDialogs::NewInputQuery(nullptr, QCoreApplication::translate("TFormIpSettings", "Command"),
            QCoreApplication::translate("TFormIpSettings", "Enter Test Command to Amplifier"), "$$$VER?",
            255);
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    InstallTranslations(application); // the windows in the language of LANG or TOVRIN_LANG
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool dark = !arguments.empty() && arguments.front() == "--dark";
    if (dark) {
        arguments.erase(arguments.begin());
        QApplication::setPalette(QPalette(QColor(45, 45, 48)));
    }
    const std::unique_ptr<QWidget> window = arguments.empty()
        ? nullptr
        : MakeWindow(arguments.front(), std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (!window) {
        std::fprintf(stderr,
            "usage: shot_window [--dark] main|ipsettings|selipaddr|upload|memo|message|query\n"
            "       shot_window [--dark] finder DRIVE PATTERN\n");
        return 2;
    }
    window->move(20, 20);
    window->show();
    window->activateWindow();
    QTimer::singleShot(300, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}
