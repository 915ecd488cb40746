// Shows the main window with a few amplifiers and the user command items of a menu file, for a
// screenshot of the real window:
//   shot_menu MENUFILE [--editor]
// Places the window at 20,20, adds rows, builds the items from MENUFILE and opens the context
// menu on the second row; with --editor it shows "Configure this Menu..."'s editor instead. Then it
// prints "ready" and stays until it is ended. tools/screenshots/shot_menu.sh runs it on Xvfb.

#include "finder/Ftovrin.h"
#include "gui/GlobalForm.h"
#include "memo/Fmemo.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s MENUFILE [--editor]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    GlobalForm<TFormTovrin> formTovrin(FormTovrin);
    GlobalForm<TFormMemo> formMemo(FormMemo);
    TFormTovrin& window = *FormTovrin;
    // Shown without a worker: the rows come from replies handed to it directly.
    window.SuppressActivation();
    window.move(20, 20);
    window.show();
    for (const char* reply : { "0A1B2C 1 198.18.1.1 255.255.0.0 0.0.0.0 Stage-Left",
             "0A1B2D 1 198.18.1.2 255.255.0.0 0.0.0.0 Stage-Right",
             "0A1B2E 0 198.18.1.3 255.255.0.0 0.0.0.0 FOH-Rack-1" })
        window.DatagramReceived("198.18.1.1:8001", reply, static_cast<int>(std::strlen(reply)));
    window.CmdsFileName = argv[1];
    window.BuildUserCommandItems();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    if (argc > 2 && std::strcmp(argv[2], "--editor") == 0) {
        FormMemo->setWindowTitle(QFile::decodeName(argv[1]));
        int error = 0;
        FormMemo->LoadFromFile(argv[1], error);
        window.hide();
        FormMemo->move(20, 20);
        FormMemo->resize(640, FormMemo->height() - 200);
        FormMemo->show();
    } else {
        const QModelIndex row = window.ListView1->model()->index(1, 0);
        window.ListView1->setCurrentIndex(row);
        const QRect rect = window.ListView1->visualRect(row);
        window.PopupMenu1->popup(window.ListView1->viewport()->mapToGlobal(rect.center()));
    }
    QTimer::singleShot(300, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return app.exec();
}
