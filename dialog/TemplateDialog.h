// SPDX-License-Identifier: GPL-3.0-or-later
// A dialog built from a template as a dialog manager builds one: controls placed in dialog units
// of the dialog's font, radio buttons that check themselves within their group, keyboard groups
// for the arrow keys, the tab chain in template order, and Enter and Esc ending the dialog.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QSize>
#include <vector>

#include "res/DialogTemplate.h"

class QAbstractButton;
class QButtonGroup;

namespace dialog {

// Dialog-unit arithmetic: a horizontal unit is a quarter of the font's average character width,
// a vertical unit an eighth of its height; results are rounded as MulDiv rounds.
struct DialogUnits {
    int baseX;
    int baseY;

    static DialogUnits ForFont(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect ToPixels(const res::DialogRect& rect) const;
    QSize ToPixels(int width, int height) const { return {X(width), Y(height)}; }
};

// The font a template asks for, or the nearest the system has.
QFont TemplateFont(const res::DialogTemplate& dialogTemplate);

class TemplateDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TemplateDialog(const res::DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

    // Runs the dialog modally and returns its result.
    int DoModal() { return exec(); }

    const res::DialogTemplate& Template() const { return template_; }
    const DialogUnits& Units() const { return units_; }

    // The control with this identifier, or null.
    QWidget* GetDlgItem(int id) const;
    template <class T>
    T* GetItem(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    // The template's control at `index`, in template order, or null.
    QWidget* ControlAt(std::size_t index) const {
        return index < controls_.size() ? controls_[index].widget : nullptr;
    }
    // Checks `id` and unchecks the other radio buttons of first..last.
    void CheckRadioButton(int first, int last, int id);
    // The next (or previous) control of the same keyboard group that can take the focus,
    // wrapping around; `from` itself when it is alone.
    QWidget* NextDlgGroupItem(QWidget* from, bool previous) const;

  protected:
    // Binds members to controls; called by the base initialisation.
    virtual void DoDataExchange() {}
    // Runs once, when the dialog is first shown. True gives the focus to the first tab stop.
    virtual bool OnInitDialog();

    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Control {
        const res::ControlTemplate* row;
        QWidget* widget;
        int keyboardGroup;
    };

    QWidget* CreateControl(const res::ControlTemplate& row);
    void BuildControls();
    const Control* Find(const QWidget* widget) const;

    const res::DialogTemplate& template_;
    DialogUnits units_;
    std::vector<Control> controls_;
    bool initialised_ = false;
};

}  // namespace dialog
