// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialog/AccessibleButton.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QRadioButton>

#include "dialog/TemplateDialog.h"

namespace dialog {
namespace {

QAccessible::Role RoleOf(const QAbstractButton* button) {
    if (qobject_cast<const QRadioButton*>(button) != nullptr)
        return QAccessible::RadioButton;
    if (qobject_cast<const QCheckBox*>(button) != nullptr)
        return QAccessible::CheckBox;
    return QAccessible::Button;
}

QAccessibleInterface* Factory(const QString&, QObject* object) {
    auto* button = qobject_cast<QAbstractButton*>(object);
    // The face is asked for, and kept, while the button is still being made: its parent is
    // what tells a template dialog's button.
    if (button == nullptr || qobject_cast<TemplateDialog*>(button->parentWidget()) == nullptr) {
        return nullptr;
    }
    return new AccessibleButton(button);
}

}  // namespace

AccessibleButton::AccessibleButton(QAbstractButton* button)
    : QAccessibleWidget(button, RoleOf(button)) {}

QString AccessibleButton::text(QAccessible::Text kind) const {
    if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
        return Button()->text();
    return QAccessibleWidget::text(kind);
}

QAbstractButton* AccessibleButton::Button() const {
    return static_cast<QAbstractButton*>(widget());
}

QAccessible::State AccessibleButton::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.checkable = Button()->isCheckable();
    state.checked = Button()->isChecked();
    state.pressed = Button()->isDown();
    return state;
}

QStringList AccessibleButton::actionNames() const {
    QStringList names{pressAction()};
    if (Button()->isCheckable())
        names << toggleAction();
    return names + QAccessibleWidget::actionNames();
}

void AccessibleButton::doAction(const QString& actionName) {
    if (!Button()->isEnabled())
        return;
    if (actionName == pressAction() || actionName == toggleAction()) {
        Button()->click();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

void AccessibleButton::Install() {
    static const bool installed = [] {
        QAccessible::installFactory(&Factory);
        return true;
    }();
    (void)installed;
}

}  // namespace dialog
