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
    switch (Target(Selected)) {
    case TMenuTarget::Outcome::Vanished:
        return;
    case TMenuTarget::Outcome::Found:
        FormUpload->EditIP->setText(ToQt(Selected.IP));
        break;
    case TMenuTarget::Outcome::NoRow:
        break;
    }
    FormUpload->exec();
}
