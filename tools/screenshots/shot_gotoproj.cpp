// Shows the project finder on a sample drive for a screenshot of the real window:
//   shot_gotoproj DRIVE PATTERN [--menu]
// Places the dialog at 20,20, types PATTERN, waits for the list and (with --menu) opens the
// context menu of the second entry; then prints "ready" and stays until it is ended.
// tools/screenshots/shot_gotoproj.sh runs it on Xvfb and takes the pictures with import.

#include "gotoproj/Fgotoprojdlg.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DRIVE PATTERN [--menu]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    TFormGotoProj dialog(nullptr, argv[1]);
    dialog.move(20, 20);
    dialog.resize(560, 330);
    dialog.show();
    dialog.EditAmpSN->setFocus();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit); // the window shown and focused first
    settle.exec();
    dialog.EditAmpSN->setText(QString::fromLocal8Bit(argv[2]));
    QObject::connect(&dialog, &TFormGotoProj::SearchShown, &settle, &QEventLoop::quit);
    while (dialog.SearchPending())
        settle.exec();
    if (argc > 3 && std::strcmp(argv[3], "--menu") == 0 && dialog.Entries().size() > 1) {
        const QRect row = dialog.ListBox1->visualRect(dialog.ListBox1->model()->index(1, 0));
        const QPoint at(row.left() + 120, row.center().y());
        // As a right click does it: the focus moves to the list (a search again), then the press.
        dialog.ListBox1->setFocus(Qt::MouseFocusReason);
        dialog.ListBox1MouseDown(at);
        while (dialog.SearchPending())
            settle.exec();
        dialog.ListBox1ContextPopup(at);
    }
    // Painted and shown on the display before the picture is taken.
    QTimer::singleShot(300, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
