// The project finder and the one-line query, exported with C linkage for other Qt programs.

#include "gotoproj/CallerBuffer.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gotoproj/TovrinGotoProj.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QThread>

namespace {

bool OnApplicationThread()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr
        && QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

extern "C" __attribute__((visibility("default"))) int ShowGotoProjFormModal(
    QWidget* owner, const char* pattern, char* projectNumber, int projectNumberSize, char* path, int pathSize)
{
    if (!OnApplicationThread())
        return 0;
    auto dialog = std::make_unique<TFormGotoProj>(owner);
    // The owner deletes its children with it, the dialog too when that happens while it is shown.
    const QPointer<TFormGotoProj> alive(dialog.get());
    if (pattern != nullptr)
        dialog->EditAmpSN->setText(ToQt(pattern));
    const int result = dialog->exec();
    if (alive == nullptr) {
        [[maybe_unused]] TFormGotoProj* const deleted = dialog.release();
        return TFormGotoProj::ModalCancel;
    }
    if (result == TFormGotoProj::ModalOk) {
        WriteCallerBuffer(dialog->GetSelectedProjectNumber(), projectNumber, projectNumberSize);
        WriteCallerBuffer(dialog->GetSelectedPath(), path, pathSize);
    }
    return result;
}

extern "C" __attribute__((visibility("default"))) int ShowInputQuery(
    const char* caption, const char* prompt, char* value, int size)
{
    if (!OnApplicationThread())
        return 0;
    const std::string initial = ReadCallerBuffer(value, size);
    std::string text = initial;
    const bool confirmed = UserDialogs::InputQuery(
        nullptr, ToQt(caption != nullptr ? caption : ""), ToQt(prompt != nullptr ? prompt : ""), text);
    WriteCallerBuffer(confirmed ? text : initial, value, size);
    return confirmed ? 1 : 0;
}
