#include "gui/AnchoredControls.h"

#include <QWidget>

#include <algorithm>

void AnchoredControls::Add(QWidget* control, int edges)
{
    FControls.push_back({ control, control->geometry(), edges });
}

void AnchoredControls::Place(QSize now) const
{
    const int dx = now.width() - FDesigned.width();
    const int dy = now.height() - FDesigned.height();
    for (const Anchored& anchored : FControls) {
        QRect placed = anchored.designed;
        // Following both opposite edges stretches; following only the far one moves.
        if (anchored.edges & Right) {
            if (anchored.edges & Left)
                placed.setWidth(std::max(0, placed.width() + dx));
            else
                placed.moveLeft(placed.left() + dx);
        }
        if (anchored.edges & Bottom) {
            if (anchored.edges & Top)
                placed.setHeight(std::max(0, placed.height() + dy));
            else
                placed.moveTop(placed.top() + dy);
        }
        anchored.control->setGeometry(placed);
    }
}
