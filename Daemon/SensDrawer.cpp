// SensDrawer: the overlay window and its image.
#include "SensDrawer.h"

#include "ABezierPathCategory.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <cmath>

SensDrawer::~SensDrawer() {
    EndDraw();
}

void SensDrawer::BeginDraw() {}

void SensDrawer::Draw(const double* values, unsigned count) {
    if (!fWindow) {
        const QImage image = createSliderImage(values, count);
        fWindow = new QLabel();
        fWindow->setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                                Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                                Qt::BypassWindowManagerHint);
        fWindow->setAttribute(Qt::WA_TranslucentBackground);
        fWindow->setAttribute(Qt::WA_TransparentForMouseEvents);
        fWindow->setAttribute(Qt::WA_ShowWithoutActivating);
        fWindow->setAttribute(Qt::WA_DeleteOnClose);
        fWindow->setWindowTitle(QStringLiteral("Sablecoil sensitivity"));
        // The window keeps the size of its first image.
        fWindow->setFixedSize(image.size());
    }

    // The origin sits at (work-area width - 100, work-area bottom + 100),
    // measured from the lower left; Qt measures from the upper left.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const int x = area.x() + area.width() - kScreenInset;
        const int bottom = area.y() + area.height() - kScreenInset;
        fWindow->move(x, bottom - fWindow->height());
    }
    fWindow->setPixmap(QPixmap::fromImage(createSliderImage(values, count)));
    fWindow->show();
    fWindow->raise();
    fWindow->update();
}

void SensDrawer::EndDraw() {
    if (fWindow) {
        fWindow->close(); // deletes it
        fWindow = nullptr;
    }
}

QString SensDrawer::labelFor(double value) {
    if (value >= 10.0) {
        return QStringLiteral("10");
    }
    return QString::asprintf("%.1f", value);
}

int SensDrawer::litCells(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    return std::min(kCells, static_cast<int>(std::floor(value)));
}

QImage SensDrawer::createSliderImage(const double* values, unsigned count) {
    const int width = kColumnWidth * static_cast<int>(count) + 6;
    QImage image(width, kImageHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Shapes are laid out with the origin at the lower left.
    const QTransform yUp(1, 0, 0, -1, 0, kImageHeight);
    painter.setTransform(yUp);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.15));
    painter.drawPath(bezierPathWithRoundRectInRect(QRectF(0, 0, width, kImageHeight), 10));

    QFont font = QGuiApplication::font();
    font.setBold(true);
    font.setPixelSize(12);
    const QFontMetricsF metrics(font);

    for (unsigned i = 0; i < count; ++i) {
        const qreal x = kMargin + kColumnWidth * static_cast<qreal>(i);
        const int lit = litCells(values[i]);
        painter.setTransform(yUp);
        for (int k = 0; k < kCells; ++k) {
            const QRectF cell(x, kMargin + kCellStep * k, kCellSize, kCellSize);
            painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.5));
            painter.drawRect(cell);
            if (k < lit) {
                // The lit cell's shadow falls one point below it.
                painter.setBrush(QColor::fromRgbF(0, 0, 0, 1.0 / 3));
                painter.drawRect(cell.translated(0, -1));
                painter.setBrush(Qt::white);
                painter.drawRect(cell);
            }
        }

        // Text is drawn upright: convert the label's lower-left corner.
        painter.resetTransform();
        painter.setFont(font);
        const QString label = labelFor(values[i]);
        const qreal labelWidth = metrics.horizontalAdvance(label);
        const QRectF box(x + (kCellSize - labelWidth) / 2,
                         kImageHeight - kLabelY - metrics.height(), labelWidth, metrics.height());
        painter.setPen(QColor::fromRgbF(0, 0, 0, 1.0 / 3));
        painter.drawText(box.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, label);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, label);
        painter.setPen(Qt::NoPen);
    }
    painter.end();
    return image;
}
