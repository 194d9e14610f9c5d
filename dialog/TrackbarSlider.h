// SPDX-License-Identifier: GPL-3.0-or-later
// A slider that behaves as a trackbar: range 0 to 100 until told otherwise, a line size of 1, a
// page of a fifth of the range, and in the vertical form the minimum at the top, with Up/Left
// and Page Up moving toward it and Down/Right and Page Down away from it.
#pragma once

#include <QSlider>

namespace dialog {

class TrackbarSlider : public QSlider {
    Q_OBJECT
  public:
    explicit TrackbarSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

    // Sets the range and keeps the page a fifth of it.
    void SetTrackbarRange(int minimum, int maximum);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace dialog
