#pragma once
// Dialog units: template positions and sizes are counted in quarters of the
// dialog font's average character width (horizontal) and eighths of its
// height (vertical). These helpers pick the font and turn units into pixels.

#include <QFont>
#include <QRect>

#include <string>

// The named font, or a metrically close scalable one when it is not
// installed, sized in pixels from the point size at the screen's logical
// resolution (96 dpi without a screen).
QFont ResolveDialogFont(const std::string& name, int pointSize);

struct DialogUnits {
    int baseX = 6;   // average character width, pixels
    int baseY = 13;  // font height, pixels

    // The base units of a font: half the width of the 52 letters a-z A-Z
    // divided by 26, rounded, and the line height; never below 1.
    static DialogUnits Measure(const QFont& font);
    // Dialog units -> pixels, rounded half away from zero.
    QRect Map(int x, int y, int cx, int cy) const;
};
