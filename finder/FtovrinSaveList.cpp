// The main window's "Save List As...": every row of the list to a CSV file, through the one writer
// that tovrinctl uses too.

#include "finder/Ftovrin.h"

#include "finder/ListExport.h"
#include "gui/Announcer.h"
#include "gui/CoreTexts.h"
#include "gui/UserDialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// The program keeps no other setting; the folder is only a convenience for the next save.
constexpr const char* SaveListFolderKey = "SaveList/Folder";

QSettings ListSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "tovrin", "tovrin");
}

} // namespace

void TFormTovrin::MenuItemSaveListClick()
{
    // Taken now: rows that expire while the dialog is open are still in the file.
    const auto rows = ListedAmplifiers(FAmplifiers);
    QString folder = ListSettings().value(SaveListFolderKey).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString fileName = UserDialogs::SaveFileName(
        this, tr("Save List As"), folder + "/amplifiers.csv", tr("CSV files (*.csv);;All files (*)"));
    if (fileName.isEmpty())
        return;
    // A pipe or a device is refused rather than waited for.
    if (const int error = SaveAmplifierCsv(
            QFile::encodeName(fileName).toStdString(), rows, platform::TStreamTarget::Refuse)) {
        UserDialogs::Error(this, tr("Error"),
            tr("Cannot save file \"%1\". %2").arg(fileName, TranslatedCoreText(LoadErrorText(error))));
        return;
    }
    ListSettings().setValue(SaveListFolderKey, QFileInfo(fileName).absolutePath());
    Announcer->Announce(tr("%n row(s) saved to %1", nullptr, static_cast<int>(rows.size())).arg(fileName));
}
