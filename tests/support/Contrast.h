#pragma once

// Contrast as WCAG 2.1 measures it, for tests that look at what an X server
// shows.

#include <QHash>
#include <QImage>

#include <algorithm>
#include <cmath>

namespace Contrast {

inline double luminance(QRgb pixel)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) + 0.0722 * channel(qBlue(pixel));
}

// The contrast ratio of two colours, 1 (none) to 21 (black on white).
inline double ratio(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The strongest contrast within `area` against its commonest colour: what a
// symbol or an icon there is drawn on.
inline double ofInk(const QImage &image, const QRect &area)
{
    QHash<QRgb, int> counts;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    QRgb background = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    double strongest = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        strongest = std::max(strongest, ratio(it.key(), background));
    return strongest;
}

} // namespace Contrast
