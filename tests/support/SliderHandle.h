// SPDX-License-Identifier: GPL-3.0-or-later
// Where a slider's handle is drawn, for pressing it as a user does (the tests and the benchmark).
#pragma once

#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

inline QPoint HandleCentre(const QSlider* slider) {
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.upsideDown = slider->invertedAppearance() != (slider->orientation() == Qt::Vertical);
    option.tickPosition = slider->tickPosition();
    return slider->style()
        ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
        .center();
}
