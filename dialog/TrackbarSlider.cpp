// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialog/TrackbarSlider.h"

#include <QKeyEvent>

namespace dialog {

TrackbarSlider::TrackbarSlider(Qt::Orientation orientation, QWidget* parent)
    : QSlider(orientation, parent) {
    if (orientation == Qt::Vertical) {
        setInvertedAppearance(true);  // minimum at the top
        setInvertedControls(true);
    }
    setSingleStep(1);
    setMouseTracking(true);  // the pointer moving over it reaches it, buttons up or down
    SetTrackbarRange(0, 100);
    setValue(0);
}

void TrackbarSlider::SetTrackbarRange(int minimum, int maximum) {
    setRange(minimum, maximum);
    setPageStep(qMax(1, (maximum - minimum) / 5));
}

void TrackbarSlider::keyPressEvent(QKeyEvent* event) {
    SliderAction action = SliderNoAction;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            action = SliderSingleStepSub;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            action = SliderSingleStepAdd;
            break;
        case Qt::Key_PageUp:
            action = SliderPageStepSub;
            break;
        case Qt::Key_PageDown:
            action = SliderPageStepAdd;
            break;
        case Qt::Key_Home:
            action = SliderToMinimum;
            break;
        case Qt::Key_End:
            action = SliderToMaximum;
            break;
        default:
            QSlider::keyPressEvent(event);
            return;
    }
    triggerAction(action);
    event->accept();
}

}  // namespace dialog
