// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialog/TemplateDialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include "dialog/AccessibleButton.h"
#include "dialog/TrackbarSlider.h"
#include "res/ResourceIds.h"

namespace dialog {
namespace {

// MulDiv's rounding for the non-negative values of a template.
int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

bool IsArrow(int key) {
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
}

}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, metrics.height()};
}

int DialogUnits::X(int units) const {
    return MulDiv(units, baseX, 4);
}
int DialogUnits::Y(int units) const {
    return MulDiv(units, baseY, 8);
}

QRect DialogUnits::ToPixels(const res::DialogRect& rect) const {
    return {X(rect.x), Y(rect.y), X(rect.width), Y(rect.height)};
}

QFont TemplateFont(const res::DialogTemplate& dialogTemplate) {
    QFont font(QString::fromLatin1(dialogTemplate.fontFamily), dialogTemplate.fontPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

TemplateDialog::TemplateDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent),
      template_(dialogTemplate),
      units_(DialogUnits::ForFont(TemplateFont(dialogTemplate))) {
    setObjectName(QString::fromLatin1(dialogTemplate.name));
    setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    setFont(TemplateFont(dialogTemplate));
    // Caption, system menu and a fixed frame: no minimise, maximise or help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(units_.ToPixels(dialogTemplate.width, dialogTemplate.height));
    AccessibleButton::Install();
    BuildControls();
}

QWidget* TemplateDialog::CreateControl(const res::ControlTemplate& row) {
    using res::ControlKind;
    const QString text = QString::fromUtf8(row.text != nullptr ? row.text : "");
    QWidget* widget = nullptr;
    switch (row.kind) {
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(text, this);
            // A frame drawn behind its buttons, as a dialog manager's group box is.
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            widget = box;
            break;
        }
        case ControlKind::AutoRadioButton: {
            auto* radio = new QRadioButton(text, this);
            radio->setAutoExclusive(false);  // the template's group decides, not the parent
            widget = radio;
            break;
        }
        case ControlKind::AutoCheckBox:
            widget = new QCheckBox(text, this);
            break;
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            button->setDefault(row.kind == ControlKind::DefaultPushButton);
            if (row.id == res::IDOK)
                connect(button, &QPushButton::clicked, this, &QDialog::accept);
            widget = button;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(text, this);
            edit->setReadOnly((row.style & res::kReadOnly) != 0);
            if (row.style & res::kCentred)
                edit->setAlignment(Qt::AlignCenter);
            edit->setFrame((row.style & res::kBorder) != 0);
            widget = edit;
            break;
        }
        case ControlKind::Trackbar: {
            auto* slider = new TrackbarSlider(
                (row.style & res::kVertical) ? Qt::Vertical : Qt::Horizontal, this);
            if (row.style & res::kTicksBothSides)
                slider->setTickPosition(QSlider::TicksBothSides);
            widget = slider;
            break;
        }
        case ControlKind::StaticText: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            widget = label;
            break;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case ControlKind::ListBox: {
            auto* list = new QListWidget(this);
            list->setSortingEnabled((row.style & res::kUnsorted) == 0);
            list->setVerticalScrollBarPolicy((row.style & res::kVerticalScrollBar)
                                                 ? Qt::ScrollBarAsNeeded
                                                 : Qt::ScrollBarAlwaysOff);
            if (!(row.style & res::kBorder))
                list->setFrameShape(QFrame::NoFrame);
            widget = list;
            break;
        }
    }
    widget->setObjectName(QString::fromLatin1(row.name));
    // Screen readers and automation tools find a control by what it says.
    if (!text.isEmpty())
        widget->setAccessibleName(text);
    widget->setGeometry(units_.ToPixels(row.rect));
    return widget;
}

void TemplateDialog::BuildControls() {
    int group = 0;
    QButtonGroup* radioGroup = nullptr;
    QWidget* previousTabStop = nullptr;
    for (const res::ControlTemplate& row : template_.controls) {
        if (row.style & res::kGroup) {
            ++group;
            radioGroup = nullptr;
        }
        QWidget* widget = CreateControl(row);
        controls_.push_back({&row, widget, group});

        const bool focusable = row.kind != res::ControlKind::GroupBox &&
                               row.kind != res::ControlKind::StaticText &&
                               row.kind != res::ControlKind::Icon;
        if (!focusable) {
            widget->setFocusPolicy(Qt::NoFocus);
        } else if (row.style & res::kTabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop != nullptr)
                setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::ClickFocus);
        }

        if (row.kind == res::ControlKind::AutoRadioButton) {
            if (radioGroup == nullptr) {
                radioGroup = new QButtonGroup(this);
                radioGroup->setExclusive(true);
            }
            radioGroup->addButton(static_cast<QRadioButton*>(widget), row.id);
        }
        if (qobject_cast<QAbstractButton*>(widget) != nullptr)
            widget->installEventFilter(this);
    }
    // Group boxes stay behind the controls they frame, whatever their place in the template.
    for (const Control& control : controls_) {
        if (control.row->kind == res::ControlKind::GroupBox)
            control.widget->lower();
    }
}

const TemplateDialog::Control* TemplateDialog::Find(const QWidget* widget) const {
    for (const Control& control : controls_) {
        if (control.widget == widget)
            return &control;
    }
    return nullptr;
}

QWidget* TemplateDialog::GetDlgItem(int id) const {
    if (id == res::IDC_STATIC)
        return nullptr;
    for (const Control& control : controls_) {
        if (control.row->id == id)
            return control.widget;
    }
    return nullptr;
}

void TemplateDialog::CheckRadioButton(int first, int last, int id) {
    for (const Control& control : controls_) {
        if (control.row->id < first || control.row->id > last)
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(control.widget)) {
            // Unchecking one button of an exclusive group needs the group's consent.
            QButtonGroup* group = button->group();
            const bool exclusive = group != nullptr && group->exclusive();
            if (exclusive)
                group->setExclusive(false);
            button->setChecked(control.row->id == id);
            if (exclusive)
                group->setExclusive(true);
        }
    }
}

QWidget* TemplateDialog::NextDlgGroupItem(QWidget* from, bool previous) const {
    const Control* start = Find(from);
    if (start == nullptr)
        return from;
    std::vector<QWidget*> members;
    std::size_t position = 0;
    for (const Control& control : controls_) {
        if (control.keyboardGroup != start->keyboardGroup)
            continue;
        const bool usable =
            control.widget == from || (control.widget->focusPolicy() != Qt::NoFocus &&
                                       control.widget->isEnabled() && !control.widget->isHidden());
        if (!usable)
            continue;
        if (&control == start)
            position = members.size();
        members.push_back(control.widget);
    }
    const std::size_t count = members.size();
    const std::size_t next = previous ? (position + count - 1) % count : (position + 1) % count;
    return members[next];
}

bool TemplateDialog::OnInitDialog() {
    DoDataExchange();
    return true;
}

void TemplateDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        if (OnInitDialog()) {
            for (const Control& control : controls_) {
                if (control.widget->focusPolicy() == Qt::StrongFocus) {
                    control.widget->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
        }
    }
    QDialog::showEvent(event);
}

void TemplateDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        // The push button with the focus, else the default one, else OK.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && Find(focused)) {
            focused->click();
            return;
        }
        for (const Control& control : controls_) {
            if (auto* button = qobject_cast<QPushButton*>(control.widget);
                button != nullptr && button->isDefault() && button->isVisible()) {
                button->click();
                return;
            }
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TemplateDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (IsArrow(key->key()) && key->modifiers() == Qt::NoModifier && Find(widget)) {
            const bool previous = key->key() == Qt::Key_Up || key->key() == Qt::Key_Left;
            QWidget* next = NextDlgGroupItem(widget, previous);
            if (next != widget) {
                next->setFocus(previous ? Qt::BacktabFocusReason : Qt::TabFocusReason);
                // Moving onto a radio button selects it, as a click would.
                if (auto* radio = qobject_cast<QRadioButton*>(next))
                    radio->click();
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace dialog
