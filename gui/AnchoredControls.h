#pragma once
// Controls that keep their distances to chosen window edges when the window is resized, as laid
// out in the window's form.

#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

class AnchoredControls {
public:
    enum Edge { Left = 1, Top = 2, Right = 4, Bottom = 8 };

    // designedSize: the window's client size in its form.
    explicit AnchoredControls(QSize designedSize)
        : FDesigned(designedSize)
    {
    }
    // edges: the window edges the control follows (Left | Top when none of the others).
    void Add(QWidget* control, int edges);
    // Places every control for the window's current client size.
    void Place(QSize now) const;

private:
    struct Anchored {
        QWidget* control;
        QRect designed;
        int edges;
    };
    QSize FDesigned;
    std::vector<Anchored> FControls;
};
