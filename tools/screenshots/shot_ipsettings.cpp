// Renders the IP settings dialog, as the in-house network sees it, to a PNG for the README:
//   QT_QPA_PLATFORM=offscreen shot_ipsettings docs/ipsettings-dialog.png

#include "ipsettings/Fipsettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    TFormIpSettings dialog(nullptr, TOVRIN_INHOUSE_DOMAIN);
    dialog.EditMac->setText("0A1B2C");
    dialog.EditName->setText("Lobby-Left");
    dialog.EditIP->setText("192.168.1.50");
    dialog.EditNM->setText("255.255.255.0");
    dialog.EditGW->setText("192.168.1.1");
    dialog.show();
    dialog.EditIP->setFocus();
    app.processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
