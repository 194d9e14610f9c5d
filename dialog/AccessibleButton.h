// SPDX-License-Identifier: GPL-3.0-or-later
// The accessible face of a dialog's buttons: pressing or toggling one, by a screen reader or an
// automation tool, clicks it, so that its handler runs exactly as for a mouse click.
#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

namespace dialog {

class AccessibleButton : public QAccessibleWidget {
  public:
    explicit AccessibleButton(QAbstractButton* button);

    QString text(QAccessible::Text kind) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;

    // Makes every template dialog's buttons use it; once per process.
    static void Install();

  private:
    QAbstractButton* Button() const;
};

}  // namespace dialog
