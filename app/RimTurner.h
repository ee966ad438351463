// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the rim picture of a label to the steering angle.
//
// Every redraw starts from the unrotated picture, turned about its centre
// into a transparent image of the same size (or of the device pixels the
// label covers, when those are more), which becomes the label's pixmap.
#pragma once

#include <QImage>
#include <cstdint>
#include <optional>

class QLabel;

class RimTurner {
public:
    explicit RimTurner(QLabel *label) : label_(label) {}

    // Shows the rim turned by the angle in degrees, clockwise for positive
    // angles. The angle drawn last draws nothing.
    void turnTo(int32_t degrees);

    std::optional<int32_t> drawnAngle() const { return drawnAngle_; }

private:
    QLabel *label_;
    QImage picture_;
    std::optional<int32_t> drawnAngle_;
};
