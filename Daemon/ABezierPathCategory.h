// ABezierPathCategory: the rounded-rectangle path of the on-screen display,
// built in y-up coordinates (origin at the lower left) from four
// counter-clockwise corner arcs.
#pragma once

#include <QPainterPath>
#include <QRectF>

QPainterPath bezierPathWithRoundRectInRect(const QRectF& rect, qreal radius);
