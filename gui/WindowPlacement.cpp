#include "gui/WindowPlacement.h"

#include <QApplication>
#include <QWidget>

void CentreOn(QWidget& window, const QWidget& owner)
{
    window.move(owner.frameGeometry().center() - QPoint(window.width() / 2, window.height() / 2));
}

void CentreOnOpener(QWidget& dialog)
{
    const QWidget* parent = dialog.parentWidget();
    const QWidget* owner = parent != nullptr ? parent->window() : QApplication::activeWindow();
    if (owner != nullptr && owner != &dialog)
        CentreOn(dialog, *owner);
}
