// The project finder and the one-line query, exported with C linkage for other Qt programs.

#include "gotoproj/CallerBuffer.h"
#include "gotoproj/Fgotoprojdlg.h"
#include "gotoproj/TovrinGotoProj.h"
#include "gui/QtText.h"
#include "gui/UserDialogs.h"

#include <QApplication>
#include <QLineEdit>
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
    if (pattern != nullptr)
        dialog->EditAmpSN->setText(ToQt(pattern));
    const int result = dialog->exec();
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
