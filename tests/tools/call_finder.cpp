// call_finder LIBRARY PATTERN: uses the project finder as another Qt program does, for the check of
// the installed program as an ordinary user (scripts/check-user-run.sh). Loads LIBRARY with dlopen,
// shows the finder with PATTERN, confirms it once its list shows entries and prints the project
// number and path it gave back, one a line. Exits 0 on OK, 1 when nothing was found in time
// (the finder is then cancelled) or the library or its function is missing, 2 on wrong use.

#include "gotoproj/TovrinGotoProj.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QListView>
#include <QPushButton>
#include <QTimer>

#include <dlfcn.h>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: call_finder LIBRARY PATTERN\n");
        return 2;
    }
    QApplication application(argc, argv);
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "call_finder: %s\n", dlerror());
        return 1;
    }
    using GotoProjFn = decltype(&ShowGotoProjFormModal);
    const auto gotoProj = reinterpret_cast<GotoProjFn>(dlsym(library, "ShowGotoProjFormModal"));
    if (gotoProj == nullptr) {
        std::fprintf(stderr, "call_finder: ShowGotoProjFormModal is not exported\n");
        return 1;
    }

    // Polls the modal finder: OK once its list has entries, Cancel after 10 s without any.
    int waited = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* list = dialog != nullptr ? dialog->findChild<QListView*>("ListBox1") : nullptr;
        auto* ok = dialog != nullptr ? dialog->findChild<QPushButton*>("ButtonOk") : nullptr;
        if (list != nullptr && ok != nullptr && list->model()->rowCount() > 0) {
            answer.stop();
            ok->click();
        } else if (++waited > 200 && dialog != nullptr) {
            answer.stop();
            dialog->close();
        }
    });
    answer.start(50);

    char number[256] = {};
    char path[4096] = {};
    const int result = gotoProj(nullptr, argv[2], number, sizeof number, path, sizeof path);
    if (result != TOVRIN_MODAL_OK) {
        std::fprintf(stderr, "call_finder: the finder gave %d, not OK\n", result);
        return 1;
    }
    std::printf("%s\n%s\n", number, path);
    return 0;
}
