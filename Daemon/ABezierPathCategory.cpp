// ABezierPathCategory: rounded rectangle from four corner arcs.
#include "ABezierPathCategory.h"

#include <algorithm>

namespace {

// Appends an arc of the circle around centre from start to end degrees,
// counter-clockwise in y-up coordinates. QPainterPath measures angles
// clockwise in y-up terms (its y grows downwards), hence the negation.
void appendArc(QPainterPath& path, QPointF centre, qreal radius, qreal start, qreal end) {
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    path.arcTo(box, -start, -(end - start));
}

} // namespace

QPainterPath bezierPathWithRoundRectInRect(const QRectF& rect, qreal radius) {
    const qreal r = std::min(radius, std::min(rect.width(), rect.height()) / 2);
    const QRectF inner = rect.adjusted(r, r, -r, -r);
    // In y-up terms the rectangle's "bottom" is its smaller y.
    const qreal left = inner.left();
    const qreal right = inner.right();
    const qreal bottom = inner.top();
    const qreal top = inner.bottom();

    QPainterPath path;
    path.moveTo(left - r, bottom);
    appendArc(path, {left, bottom}, r, 180, 270);
    appendArc(path, {right, bottom}, r, 270, 360);
    appendArc(path, {right, top}, r, 0, 90);
    appendArc(path, {left, top}, r, 90, 180);
    path.closeSubpath();
    return path;
}
