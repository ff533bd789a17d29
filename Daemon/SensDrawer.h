// SensDrawer: the on-screen sensitivity display. While an on-the-fly
// sensitivity input is held and the wheel turns, a small translucent overlay
// near the lower right of the screen shows one column of ten cells per
// sensitivity value, lit from the bottom up to the value, with the value
// above the column. The window appears at the first Draw.
#pragma once

#include <QImage>
#include <QString>

class QLabel;

class SensDrawer {
public:
    // Image geometry, in points, origin at the lower left.
    static constexpr int kColumnWidth = 20;
    static constexpr int kImageHeight = 174;
    static constexpr int kCellSize = 12;
    static constexpr int kCellStep = 15;
    static constexpr int kCells = 10;
    static constexpr int kMargin = 7;
    static constexpr int kLabelY = kImageHeight - 18;
    // Distance of the window from the right edge and the bottom of the screen's work area.
    static constexpr int kScreenInset = 100;

    SensDrawer() = default;
    virtual ~SensDrawer();
    SensDrawer(const SensDrawer&) = delete;
    SensDrawer& operator=(const SensDrawer&) = delete;

    void BeginDraw();
    void Draw(const double* values, unsigned count);
    void EndDraw();

    static QImage createSliderImage(const double* values, unsigned count);
    // The label above a column: "10" at 10 or more, else the value with one decimal.
    static QString labelFor(double value);
    // Lit cells of a column: the value's integer part, 0 to 10.
    static int litCells(double value);

    QLabel* fWindow = nullptr;
};
