// Tests of the on-screen sensitivity display: image geometry, lit cells,
// labels, the rounded background and the window's place.
#include "SensDrawer.h"
#include "ABezierPathCategory.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

namespace {

// The centre of cell k (0 = bottom) of column i, in the image's top-left pixels.
QPoint CellCentre(int column, int k) {
    const int x =
        SensDrawer::kMargin + SensDrawer::kColumnWidth * column + SensDrawer::kCellSize / 2;
    const int yUp = SensDrawer::kMargin + SensDrawer::kCellStep * k + SensDrawer::kCellSize / 2;
    return {x, SensDrawer::kImageHeight - 1 - yUp};
}

int LitCellsIn(const QImage& image, int column) {
    int lit = 0;
    for (int k = 0; k < SensDrawer::kCells; ++k) {
        const QColor c = image.pixelColor(CellCentre(column, k));
        const bool white =
            c.red() == 255 && c.green() == 255 && c.blue() == 255 && c.alpha() == 255;
        if (white) {
            EXPECT_EQ(k, lit) << "lit cells are contiguous from the bottom";
            ++lit;
        } else {
            EXPECT_EQ(c.red(), 0);
            EXPECT_NEAR(c.alphaF(), 0.5 + 0.15 * 0.5, 0.02); // cell over the background
        }
    }
    return lit;
}

struct ImageCase {
    std::vector<double> values;
    std::vector<int> lit;
    std::vector<const char*> labels;
};

TEST(SensDrawer, ImageColumnsLabelsAndSize) {
    const ImageCase cases[] = {
        {{5.6}, {5}, {"5.6"}},
        {{10.0}, {10}, {"10"}},
        {{9.96}, {9}, {"10.0"}},
        {{1.0}, {1}, {"1.0"}},
        {{3.2, 7.8}, {3, 7}, {"3.2", "7.8"}},
    };
    for (const ImageCase& c : cases) {
        const auto n = static_cast<unsigned>(c.values.size());
        const QImage image = SensDrawer::createSliderImage(c.values.data(), n);
        EXPECT_EQ(image.size(), QSize(20 * static_cast<int>(n) + 6, 174));
        for (unsigned i = 0; i < n; ++i) {
            EXPECT_EQ(LitCellsIn(image, static_cast<int>(i)), c.lit[i]) << c.values[i];
            EXPECT_EQ(SensDrawer::labelFor(c.values[i]), QString::fromLatin1(c.labels[i]));
            // The label is drawn in white above the column.
            bool labelPixels = false;
            const int x0 = SensDrawer::kMargin + SensDrawer::kColumnWidth * static_cast<int>(i) - 4;
            for (int y = 0; y < 18 && !labelPixels; ++y) {
                for (int x = x0; x < x0 + 20 && !labelPixels; ++x) {
                    labelPixels = image.pixelColor(x, y).lightness() > 200;
                }
            }
            EXPECT_TRUE(labelPixels) << c.values[i];
        }
    }
}

TEST(SensDrawer, BackgroundIsARoundedTranslucentRectangle) {
    const double value = 5.0;
    const QImage image = SensDrawer::createSliderImage(&value, 1);
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);              // outside the rounded corner
    EXPECT_NEAR(image.pixelColor(13, 2).alphaF(), 0.15, 0.01); // inside, between cells
    EXPECT_EQ(image.pixelColor(25, 173).alpha(), 0);

    const QPainterPath path = bezierPathWithRoundRectInRect(QRectF(0, 0, 26, 174), 10);
    EXPECT_EQ(path.boundingRect(), QRectF(0, 0, 26, 174));
    EXPECT_TRUE(path.contains(QPointF(13, 87)));
    EXPECT_FALSE(path.contains(QPointF(0.5, 0.5)));
    // The radius is limited to half the smaller side.
    const QPainterPath pill = bezierPathWithRoundRectInRect(QRectF(0, 0, 10, 40), 30);
    EXPECT_TRUE(pill.contains(QPointF(5, 20)));
    EXPECT_FALSE(pill.contains(QPointF(0.5, 0.5)));
}

TEST(SensDrawer, WindowAppearsAtTheFirstDrawNearTheLowerRight) {
    SensDrawer drawer;
    drawer.BeginDraw();
    EXPECT_EQ(drawer.fWindow, nullptr);
    const double values[2] = {3.2, 7.8};
    drawer.Draw(values, 2);
    ASSERT_NE(drawer.fWindow, nullptr);
    EXPECT_TRUE(drawer.fWindow->isVisible());
    EXPECT_TRUE(drawer.fWindow->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(drawer.fWindow->windowFlags() & Qt::WindowTransparentForInput);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(drawer.fWindow->geometry(),
              QRect(area.x() + area.width() - 100, area.y() + area.height() - 100 - 174, 46, 174));
    // A later draw with another count keeps the first size.
    drawer.Draw(values, 1);
    EXPECT_EQ(drawer.fWindow->size(), QSize(46, 174));
    drawer.EndDraw();
    EXPECT_EQ(drawer.fWindow, nullptr);
}

} // namespace
