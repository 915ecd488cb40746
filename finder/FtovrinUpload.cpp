// The main window's upload item: the upload dialog, aimed at the selected amplifier.

#include "finder/Ftovrin.h"

#include "gui/QtText.h"
#include "upload/Fupload.h"

#include <QLineEdit>

void TFormTovrin::MenuItemUploadClick()
{
    if (FormUpload == nullptr)
        return;
    // Without a selection the address field keeps what it held.
    if (GetSelected(Selected))
        FormUpload->EditIP->setText(ToQt(Selected.IP));
    FormUpload->exec();
}
