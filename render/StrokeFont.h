#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <string_view>

// Capital letters, digits and a few signs drawn as strokes, so that the printed lettering of the
// artwork comes from this source alone and not from whichever fonts a machine has installed.
// Glyphs sit on a grid 12 units high; `capHeight` is the height of a capital in pixels.
struct StrokeStyle {
    double capHeight = 8.0;
    double weight = 1.2;   // pen width in pixels
    double tracking = 0.0; // extra space between letters in pixels
    QColor color = Qt::white;
};

// Width in pixels of `text` set in `style`.
double StrokeTextWidth(std::string_view text, const StrokeStyle& style);

// Draws `text` with the top left of its first capital at `origin`. Characters the font lacks
// advance like a space.
void DrawStrokeText(QPainter& painter, QPointF origin, std::string_view text,
                    const StrokeStyle& style);
