// SPDX-License-Identifier: GPL-3.0-or-later
// The control panel: rate, framing and modem-line controls over the UART chosen at start-up.
#pragma once

#include <QIcon>
#include <QPoint>
#include <QSize>
#include <cstdint>
#include <optional>

#include "dialog/TemplateDialog.h"
#include "line/Hold.h"
#include "panel/RatePresets.h"
#include "uart/LineSettings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QRadioButton;
class QTimer;

namespace dialog {
class TrackbarSlider;
}

namespace panel {

using dialog::TemplateDialog;
using dialog::TrackbarSlider;

// One framing button: the framing field it sets and the code it stores there.
struct FramingChoice {
    int id;
    std::uint8_t uart::Framing::*field;
    std::uint8_t code;
    bool turnsParityOff;  // eight data bits always turn parity off
};

// Where the icon goes in a minimised panel's client area: centred, rounding as the system does.
QPoint MinimisedIconOrigin(QSize client, QSize icon);

class CPortSetDlg : public TemplateDialog {
    Q_OBJECT
  public:
    explicit CPortSetDlg(QWidget* parent = nullptr);

    // Programs the UART with the current framing and `rate` (0 leaves the divisor alone), then
    // shows the framing in the radio groups. When the hardware refuses the line, the framing
    // goes back to `previous` (where given), so that the groups show the line as it is.
    void ApplyLineSettings(double rate, const std::optional<uart::Framing>& previous = {});
    // Shows LineSettings in the parity, word-length and stop groups, and highlights the stop
    // button that the word length cannot produce.
    void RefreshFormatButtons();

    // Sees every input, timer and paint event bound for the slider before the slider does: the
    // display follows the slider's position, and a left-button release programs the rate the
    // display shows. The slider then handles the event as always.
    void PreTranslateMessage(QObject* target, QEvent* event);

    // The system menu's commands: the About box, move, close.
    void OnSysCommand(int command);
    // The system menu (a context menu here): move, close, then the About entry.
    QMenu* CreateSystemMenu();

    // The line below the controls: where the UART is and how it is reached, what the last rate
    // really gives, and what the backend had to say.
    QString StatusText() const;

    // The handlers, as the controls' clicks reach them.
    void OnRatePreset(const RatePreset& preset);
    void OnStepDown() { StepRate(-kStepPositions); }
    void OnStepUp() { StepRate(+kStepPositions); }
    void OnFramingButton(const FramingChoice& choice);
    void OnModemLine(QCheckBox* box, std::uint8_t mask);
    // The Hold box: while it is ticked the UART is looked at every kHoldInterval, and what the
    // panel last set (each change the user makes) is set again whenever something else changed
    // it.
    void OnHold();
    // Ticks or clears the Hold box, as a click would (before the panel is shown: as it opens).
    void SetHold(bool on);
    // What opening the port came to, said when the panel opens.
    void SetOpened(uart::LineOutcome opened);

  protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void RouteEvents();
    void StepRate(int delta);
    void ShowSystemMenu(QPoint globalPosition);
    // Shows what a change came to: its rate (kept for later lines while no rate changes), and
    // what the backend had to say, in a colour of warning when it failed.
    void UpdateStatus(const uart::LineOutcome& outcome);
    void OnHoldTimer();

    // Bound by DoDataExchange.
    QRadioButton* stop1_ = nullptr;
    QRadioButton* stop1_5_ = nullptr;
    QRadioButton* stop2_ = nullptr;
    QCheckBox* rts_ = nullptr;
    QCheckBox* dtr_ = nullptr;
    TrackbarSlider* slider_ = nullptr;
    QLineEdit* display_ = nullptr;
    QIcon icon_;
    QLabel* status_ = nullptr;
    QCheckBox* hold_ = nullptr;
    QTimer* holdTimer_ = nullptr;
    line::Hold held_{0};  // what the panel has set, at the port it announces
    uart::LineOutcome opened_;
    QString rateLine_;
    // The look-ahead's last slider position and its text.
    int shownPosition_ = 0;
    QString shownText_;
};

// "2534 → 45.46 Bd +0.03 %": the divisor a rate gives, the rate that divisor produces, and its
// error against the rate asked for; where the line runs at another rate than the divisor's
// ("the CH340 runs 45.96 Bd"), what it was asked and what it runs.
QString RateStatus(const uart::RateReport& report,
                   const std::optional<uart::RunningRate>& running = {});

}  // namespace panel
