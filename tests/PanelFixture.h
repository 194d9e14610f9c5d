// SPDX-License-Identifier: GPL-3.0-or-later
// A panel on the offscreen platform over a recording backend, with the line settings as the
// program starts with them.
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "dialog/TrackbarSlider.h"
#include "panel/PortSetDlg.h"
#include "res/ResourceIds.h"
#include "uart/LineSettings.h"
#include "uart/PortSelection.h"
#include "uart/RecordingPortIo.h"

class PanelFixture {
  public:
    explicit PanelFixture(const char* commandLine = "quorlix 2") : installed_(io) {
        uart::LineSettings = uart::LineSettingsData{};
        uart::SetProcessCommandLine(commandLine);
        io.SetReadValue(0x2FC, 0x08);  // OUT2 set, as after power-up
        panel = std::make_unique<panel::CPortSetDlg>();
        panel->show();  // runs the panel's initialisation
    }

    template <class T = QAbstractButton>
    T* Item(int id) const {
        return panel->GetItem<T>(id);
    }
    QLineEdit* Display() const { return Item<QLineEdit>(res::IDC_RATE_DISPLAY); }
    dialog::TrackbarSlider* Slider() const {
        return Item<dialog::TrackbarSlider>(res::IDC_RATE_SLIDER);
    }

    // A left click where a user clicks a button: on a radio or check box's indicator, in the
    // middle of a push button.
    void Click(int id) const {
        QAbstractButton* button = Item(id);
        const bool indicator = qobject_cast<QPushButton*>(button) == nullptr;
        QTest::mouseClick(button, Qt::LeftButton, {},
                          indicator ? QPoint(6, button->height() / 2) : button->rect().center());
    }

    // The accesses since the last call, in --trace form.
    QStringList TakeAccesses() {
        QStringList lines;
        for (const uart::PortAccess& access : io.Accesses()) {
            lines << QString::fromStdString(uart::FormatAccess(access));
        }
        io.Clear();
        return lines;
    }

    // The identifiers of the checked buttons among first..last.
    QList<int> Checked(int first, int last) const {
        QList<int> ids;
        for (int id = first; id <= last; ++id) {
            if (Item(id)->isChecked())
                ids << id;
        }
        return ids;
    }

    // The stop buttons that carry the highlight.
    QList<int> Highlighted() const {
        QList<int> ids;
        for (int id : {res::IDC_STOP_1, res::IDC_STOP_1_5, res::IDC_STOP_2}) {
            if (Item(id)->property("highlighted").toBool())
                ids << id;
        }
        return ids;
    }

    uart::RecordingPortIo io;
    std::unique_ptr<panel::CPortSetDlg> panel;

  private:
    uart::ScopedPortIo installed_;
};
