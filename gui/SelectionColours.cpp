#include "gui/SelectionColours.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPalette>

namespace {

// Copies the active selection colours to the inactive group; true when that changed anything.
bool ApplyActiveSelectionColours(QAbstractItemView& view)
{
    QPalette palette = view.palette();
    bool changed = false;
    for (const QPalette::ColorRole role : { QPalette::Highlight, QPalette::HighlightedText }) {
        const QBrush active = palette.brush(QPalette::Active, role);
        if (palette.brush(QPalette::Inactive, role) != active) {
            palette.setBrush(QPalette::Inactive, role, active);
            changed = true;
        }
    }
    if (changed)
        view.setPalette(palette);
    return changed;
}

class SelectionColoursFollower : public QObject {
public:
    explicit SelectionColoursFollower(QAbstractItemView& view)
        : QObject(&view)
        , FView(view)
    {
        view.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Setting the palette sends one more change, which then finds nothing left to copy.
        if (watched == &FView && event->type() == QEvent::PaletteChange)
            ApplyActiveSelectionColours(FView);
        return false;
    }

private:
    QAbstractItemView& FView;
};

} // namespace

void KeepSelectionColoursUnfocused(QAbstractItemView& view)
{
    ApplyActiveSelectionColours(view);
    new SelectionColoursFollower(view); // owned by the view
}
