// show_window WINDOW [DRIVE PATTERN]: shows one of the program's dialogs by itself, for the test
// through the accessibility bus (tests/a11y/atspi-windows.sh). WINDOW is ipsettings, selipaddr,
// upload, memo, finder (searching PATTERN on the folder DRIVE), message or query. The dialog
// opens at 20,20 with its controls as a user meets them; "ready" is printed once it is shown, and
// it stays until it is ended.

#include "gotoproj/Fgotoprojdlg.h"
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
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<QWidget> MakeWindow(const char* name, int argc, char* argv[])
{
    if (std::strcmp(name, "ipsettings") == 0) {
        auto dialog = std::make_unique<TFormIpSettings>(nullptr, TOVRIN_INHOUSE_DOMAIN);
        dialog->EditMac->setText("0A1B2C");
        dialog->EditName->setText("Stage-Left");
        return dialog;
    }
    if (std::strcmp(name, "selipaddr") == 0) {
        auto dialog = std::make_unique<TFormSelIpAddr>();
        dialog->ComboBoxLocalAddrs->addItems({ "198.18.0.1", "192.168.1.20" });
        return dialog;
    }
    if (std::strcmp(name, "upload") == 0)
        return std::make_unique<TFormUpload>();
    if (std::strcmp(name, "memo") == 0) {
        auto dialog = std::make_unique<TFormMemo>();
        dialog->SetText("&Ping | ping -c 4 <IP>\r\n");
        return dialog;
    }
    if (std::strcmp(name, "finder") == 0 && argc == 4) {
        auto dialog = std::make_unique<TFormGotoProj>(nullptr, argv[2]);
        dialog->EditAmpSN->setText(QString::fromLocal8Bit(argv[3]));
        return dialog;
    }
    if (std::strcmp(name, "message") == 0)
        return UserDialogs::NewMessageBox(nullptr, QMessageBox::Question, "Confirm",
            "Send these settings to the amplifier?", QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (std::strcmp(name, "query") == 0)
        return UserDialogs::NewInputQuery(nullptr, "Command", "Enter Test Command to Amplifier", "$$$VER?", 255);
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const std::unique_ptr<QWidget> window = argc >= 2 ? MakeWindow(argv[1], argc, argv) : nullptr;
    if (!window) {
        std::fprintf(stderr, "usage: show_window ipsettings|selipaddr|upload|memo|message|query\n"
                             "       show_window finder DRIVE PATTERN\n");
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
