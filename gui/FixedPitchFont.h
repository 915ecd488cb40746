#pragma once
// The fixed-pitch face of the program's text areas. Lucida Console is rarely installed here; the
// widget falls back to another fixed-pitch face, keeping its size.

#include <QFont>
#include <QWidget>

inline void UseFixedPitchFont(QWidget& widget)
{
    QFont font = widget.font();
    font.setFamilies({ "Lucida Console", "DejaVu Sans Mono", "Liberation Mono" });
    font.setStyleHint(QFont::TypeWriter);
    widget.setFont(font);
}
