// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PortSetDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QWindow>

#include "about/AboutDlg.h"
#include "dialog/TrackbarSlider.h"
#include "line/Advice.h"
#include "os/CLocale.h"
#include "panel/RateText.h"
#include "res/AppIcon.h"
#include "res/ResourceIds.h"
#include "res/Strings.h"
#include "uart/PortIo.h"
#include "uart/PortSelection.h"
#include "uart/Registers.h"

namespace panel {
namespace {

using uart::Framing;
using uart::LineSettings;

// The panel's own area below the template, in dialog units: the Hold box, then the status
// line with room for five wrapped lines.
constexpr res::DialogRect kHoldRect{3, 311, 72, 10};
constexpr int kStatusHeight = 42;

// clang-format off
constexpr FramingChoice kFramingChoices[] = {
    {res::IDC_PARITY_NONE,  &Framing::parityBits,     uart::kParityNone,     false},
    {res::IDC_PARITY_ODD,   &Framing::parityBits,     uart::kParityOdd,      false},
    {res::IDC_PARITY_EVEN,  &Framing::parityBits,     uart::kParityEven,     false},
    {res::IDC_PARITY_MARK,  &Framing::parityBits,     uart::kParityMark,     false},
    {res::IDC_PARITY_SPACE, &Framing::parityBits,     uart::kParitySpace,    false},
    {res::IDC_BITS_5,       &Framing::wordLengthBits, uart::kLcrWordLength5, false},
    {res::IDC_BITS_6,       &Framing::wordLengthBits, uart::kLcrWordLength6, false},
    {res::IDC_BITS_7,       &Framing::wordLengthBits, uart::kLcrWordLength7, false},
    {res::IDC_BITS_8,       &Framing::wordLengthBits, uart::kLcrWordLength8, true},
    {res::IDC_STOP_1,       &Framing::stopBits,       0,                     false},
    {res::IDC_STOP_1_5,     &Framing::stopBits,       uart::kLcrStop,        false},
    {res::IDC_STOP_2,       &Framing::stopBits,       uart::kLcrStop,        false},
};
// clang-format on

// Names for the controls whose text does not say what they are.
constexpr struct {
    int id;
    const char* name;
} kAccessibleNames[] = {
    {res::IDC_RATE_DISPLAY, "Rate"},
    {res::IDC_RATE_SLIDER, "Rate slider"},
    {res::IDC_STEP_DOWN, "Rate down 0.10"},
    {res::IDC_STEP_UP, "Rate up 0.10"},
};

// Keys that take the focus into a group the tab chain does not reach: to its selected button,
// from where the arrow keys choose.
constexpr struct {
    const char* keys;
    int first;
    int last;
} kGroupShortcuts[] = {
    {"Alt+R", res::IDC_RATE_45_45, res::IDC_RATE_300_0},
    {"Alt+P", res::IDC_PARITY_NONE, res::IDC_PARITY_SPACE},
    {"Alt+B", res::IDC_BITS_5, res::IDC_BITS_8},
    {"Alt+S", res::IDC_STOP_1, res::IDC_STOP_2},
};

// The button each parity code selects.
constexpr struct {
    std::int32_t code;
    int id;
} kParityButtons[] = {
    {uart::kParityNone, res::IDC_PARITY_NONE},   {uart::kParityOdd, res::IDC_PARITY_ODD},
    {uart::kParityEven, res::IDC_PARITY_EVEN},   {uart::kParityMark, res::IDC_PARITY_MARK},
    {uart::kParitySpace, res::IDC_PARITY_SPACE},
};

// The events the look-ahead acts on: input, timer ticks and paints, which a window system posts
// for the slider. The rest (show, resize, focus, polish...) pass it by.
bool IsInputTimerOrPaint(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Timer:
        case QEvent::Paint:
            return true;
        default:
            return false;
    }
}

// The pressed look of a stop button that the current word length cannot produce: a fill in
// the palette's highlight colour that no focus change takes away.
constexpr char kHighlightProperty[] = "highlighted";

void SetHighlight(QRadioButton* button, bool on) {
    if (button->property(kHighlightProperty).toBool() == on)
        return;
    button->setProperty(kHighlightProperty, on);
    QPalette palette = button->parentWidget()->palette();
    if (on) {
        palette.setColor(button->backgroundRole(), palette.color(QPalette::Highlight));
        palette.setColor(button->foregroundRole(), palette.color(QPalette::HighlightedText));
    }
    button->setPalette(palette);
    button->setAutoFillBackground(on);
    button->update();
}

}  // namespace

QPoint MinimisedIconOrigin(QSize client, QSize icon) {
    return {(client.width() - icon.width() + 1) / 2, (client.height() - icon.height() + 1) / 2};
}

QString RateStatus(const uart::RateReport& report,
                   const std::optional<uart::RunningRate>& running) {
    if (running)
        return QString::fromStdString(uart::DescribeRate(report, running));
    if (report.divisor == 0)
        return QStringLiteral("0 \u2192 no defined rate");
    return QString::fromStdString(os::FormatC("%u \u2192 %.2f Bd %+.2f %%", report.divisor,
                                              report.produced, report.errorPercent));
}

CPortSetDlg::CPortSetDlg(QWidget* parent)
    : TemplateDialog(res::kPortSetDialog, parent), icon_(res::LoadAppIcon()) {
    // The status line sits below the template's controls, across the panel.
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("IDC_STATUS"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Its text becomes selectable at the first press on it (see eventFilter): a selectable label
    // keeps a whole text document behind its text from the moment it is made selectable.
    status_->installEventFilter(this);
    status_->setFocusPolicy(Qt::NoFocus);
    const QRect area = Units().ToPixels({3, 322, 72, kStatusHeight});
    status_->setGeometry(area);
    status_->setAccessibleName(tr("Status"));
    hold_ = new QCheckBox(tr("&Hold"), this);
    hold_->setObjectName(QStringLiteral("IDC_HOLD"));
    hold_->setGeometry(Units().ToPixels(kHoldRect));
    hold_->setAccessibleName(tr("Hold the settings"));
    hold_->setToolTip(tr("Set the port again whenever the terminal program's driver changes it"));
    holdTimer_ = new QTimer(this);
    holdTimer_->setInterval(line::kHoldInterval);
    for (const auto& entry : kAccessibleNames) {
        GetDlgItem(entry.id)->setAccessibleName(tr(entry.name));
    }
    for (const auto& shortcut : kGroupShortcuts) {
        auto* keys = new QShortcut(QKeySequence(QString::fromLatin1(shortcut.keys)), this);
        connect(keys, &QShortcut::activated, this, [this, &shortcut] {
            QWidget* target = GetDlgItem(shortcut.first);
            for (int id = shortcut.first; id <= shortcut.last; ++id) {
                if (GetItem<QAbstractButton>(id)->isChecked())
                    target = GetDlgItem(id);
            }
            target->setFocus(Qt::ShortcutFocusReason);
        });
    }
    setFixedSize(width(), area.bottom() + 1 + Units().Y(3));
    RouteEvents();
}

void CPortSetDlg::RouteEvents() {
    for (const RatePreset& preset : kRatePresets) {
        connect(GetItem<QAbstractButton>(preset.id), &QAbstractButton::clicked, this,
                [this, &preset] { OnRatePreset(preset); });
    }
    connect(GetItem<QAbstractButton>(res::IDC_STEP_DOWN), &QAbstractButton::clicked, this,
            &CPortSetDlg::OnStepDown);
    connect(GetItem<QAbstractButton>(res::IDC_STEP_UP), &QAbstractButton::clicked, this,
            &CPortSetDlg::OnStepUp);
    for (const FramingChoice& choice : kFramingChoices) {
        connect(GetItem<QAbstractButton>(choice.id), &QAbstractButton::clicked, this,
                [this, &choice] { OnFramingButton(choice); });
    }
    auto* dtr = GetItem<QCheckBox>(res::IDC_DTR);
    auto* rts = GetItem<QCheckBox>(res::IDC_RTS);
    connect(dtr, &QAbstractButton::clicked, this, [this, dtr] { OnModemLine(dtr, uart::kMcrDtr); });
    connect(rts, &QAbstractButton::clicked, this, [this, rts] { OnModemLine(rts, uart::kMcrRts); });
    connect(hold_, &QAbstractButton::clicked, this, &CPortSetDlg::OnHold);
    connect(holdTimer_, &QTimer::timeout, this, &CPortSetDlg::OnHoldTimer);
    // Every queued event bound for the slider passes the look-ahead first.
    GetDlgItem(res::IDC_RATE_SLIDER)->installEventFilter(this);
}

void CPortSetDlg::DoDataExchange() {
    stop1_ = GetItem<QRadioButton>(res::IDC_STOP_1);
    stop1_5_ = GetItem<QRadioButton>(res::IDC_STOP_1_5);
    stop2_ = GetItem<QRadioButton>(res::IDC_STOP_2);
    rts_ = GetItem<QCheckBox>(res::IDC_RTS);
    dtr_ = GetItem<QCheckBox>(res::IDC_DTR);
    slider_ = GetItem<TrackbarSlider>(res::IDC_RATE_SLIDER);
    display_ = GetItem<QLineEdit>(res::IDC_RATE_DISPLAY);
}

bool CPortSetDlg::OnInitDialog() {
    TemplateDialog::OnInitDialog();
    // The window icon carries both sizes; Qt picks the big and the small one from it.
    setWindowIcon(icon_);
    LineSettings.portBase = uart::SelectPortFromCommandLine(uart::GetProcessCommandLine());
    held_ = line::Hold(LineSettings.portBase);
    display_->setText(QString::fromStdString(uart::PortAnnouncement(LineSettings.portBase)));
    RefreshFormatButtons();
    if (hold_->isChecked())
        holdTimer_->start();
    // With what opening the port had to say, and whether its hardware can send the line the
    // panel starts with; nothing is written until the first click either way.
    uart::LineOutcome start = opened_;
    start.Add(uart::ThePortIo().CannotSend(LineSettings.ToFraming()));
    UpdateStatus(start);
    return true;
}

void CPortSetDlg::ApplyLineSettings(double rate, const std::optional<Framing>& previous) {
    uart::LineOutcome outcome = uart::ApplyLine(LineSettings.portBase, rate);
    if (!outcome.failed) {
        held_.KeepLine(rate, LineSettings.ToFraming(), outcome.running);
    } else {
        outcome.rate.reset();  // not the line's rate
        if (previous)
            LineSettings.SetFraming(*previous);  // what was refused is not the line
    }
    RefreshFormatButtons();
    UpdateStatus(outcome);
}

QString CPortSetDlg::StatusText() const {
    return status_->text();
}

void CPortSetDlg::UpdateStatus(const uart::LineOutcome& outcome) {
    uart::PortIo& io = uart::ThePortIo();
    if (outcome.rate)
        rateLine_ = RateStatus(*outcome.rate, outcome.running);
    QStringList lines{QString::fromStdString(io.Label(LineSettings.portBase))};
    if (!rateLine_.isEmpty())
        lines << rateLine_;
    if (hold_->isChecked()) {
        lines << (held_.Empty() ? tr("held \u00B7 nothing set yet")
                  : held_.ReapplyCount() == 0
                      ? tr("held")
                      : tr("held \u00B7 %1").arg(QString::fromStdString(held_.Summary())));
        if (const std::string limit = held_.Limit(); !limit.empty())
            lines << QString::fromStdString(limit);
    }
    if (!outcome.notice.empty())
        lines << QString::fromStdString(line::AdvisedNotice(outcome));
    status_->setText(lines.join(QLatin1Char('\n')));
    status_->setToolTip(status_->text());
    // A change that did not reach the hardware is said in a colour of warning.
    QPalette palette = this->palette();
    if (outcome.failed)
        palette.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
    status_->setPalette(palette);
}

void CPortSetDlg::RefreshFormatButtons() {
    for (const auto& parity : kParityButtons) {
        if (LineSettings.parityBits == parity.code) {
            CheckRadioButton(res::IDC_PARITY_NONE, res::IDC_PARITY_SPACE, parity.id);
        }
    }
    if (LineSettings.wordLengthBits >= 0 && LineSettings.wordLengthBits <= 3) {
        CheckRadioButton(res::IDC_BITS_5, res::IDC_BITS_8,
                         res::IDC_BITS_5 + LineSettings.wordLengthBits);
    }
    if (LineSettings.stopBits != 0 && LineSettings.stopBits != uart::kLcrStop)
        return;
    const bool fiveBitWords = LineSettings.wordLengthBits == 0;
    // Five-bit words cannot have two stop bits, longer words cannot have one and a half.
    SetHighlight(stop1_, false);
    SetHighlight(stop1_5_, !fiveBitWords);
    SetHighlight(stop2_, fiveBitWords);
    const int selected = LineSettings.stopBits == 0 ? res::IDC_STOP_1
                         : fiveBitWords             ? res::IDC_STOP_1_5
                                                    : res::IDC_STOP_2;
    CheckRadioButton(res::IDC_STOP_1, res::IDC_STOP_2, selected);
}

void CPortSetDlg::OnRatePreset(const RatePreset& preset) {
    CheckRadioButton(res::IDC_RATE_45_45, res::IDC_RATE_300_0, preset.id);
    ApplyLineSettings(preset.rate);
    display_->setText(FormatRate(preset.rate));
    slider_->SetTrackbarRange(preset.sliderMinimum, preset.sliderMaximum);
    slider_->setValue(preset.sliderPosition);
}

void CPortSetDlg::StepRate(int delta) {
    const int position = slider_->value() + delta;
    slider_->setValue(position);  // the slider keeps it within its range
    // The rate follows the intended position, not the one the slider kept.
    const double rate = RateForPosition(position);
    display_->setText(FormatRate(rate));
    ApplyLineSettings(ToSinglePrecision(rate));
}

void CPortSetDlg::OnFramingButton(const FramingChoice& choice) {
    const Framing previous = LineSettings.ToFraming();
    Framing framing = previous;
    framing.*choice.field = choice.code;
    if (choice.turnsParityOff)
        framing.parityBits = uart::kParityNone;
    LineSettings.SetFraming(framing);
    ApplyLineSettings(0, previous);
}

void CPortSetDlg::OnModemLine(QCheckBox* box, std::uint8_t mask) {
    const uart::LineOutcome outcome = uart::ApplyModemLine(mask, box->isChecked());
    held_.KeepModemLine(mask, box->isChecked());
    UpdateStatus(outcome);
}

void CPortSetDlg::SetOpened(uart::LineOutcome opened) {
    opened_ = std::move(opened);
}

void CPortSetDlg::SetHold(bool on) {
    hold_->setChecked(on);
    if (isVisible())  // else the panel's initialisation starts the hold
        OnHold();
}

void CPortSetDlg::OnHold() {
    if (hold_->isChecked()) {
        holdTimer_->start();
    } else {
        holdTimer_->stop();
    }
    UpdateStatus({});
}

void CPortSetDlg::OnHoldTimer() {
    const auto [look, outcome] = held_.LookAndPutBack();
    if (look == line::Hold::Look::Kept)
        return;
    if (!outcome.failed) {
        UpdateStatus(outcome);
        return;
    }
    // A port that cannot be looked at or set ends the hold, rather than failing at every look.
    hold_->setChecked(false);
    holdTimer_->stop();
    UpdateStatus(outcome);
    QStringList ending{status_->text()};
    if (look == line::Hold::Look::ReapplyFailed)
        ending << tr("could not re-apply: %1").arg(QString::fromStdString(held_.LastReason()));
    ending << tr("hold ended");
    status_->setText(ending.join(QLatin1Char('\n')));
    status_->setToolTip(status_->text());
}

void CPortSetDlg::PreTranslateMessage(QObject* target, QEvent* event) {
    if (target == slider_ && slider_ != nullptr && IsInputTimerOrPaint(event->type())) {
        const bool leftRelease = event->type() == QEvent::MouseButtonRelease &&
                                 static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        if (leftRelease) {
            // The end of a drag programs the rate the display shows and puts the slider there.
            const double rate = ReadRate(display_->text());
            ApplyLineSettings(rate);
            slider_->setValue(PositionForRate(rate));
        } else {
            // Most events bound for the slider do not move it: format a position only once.
            // Other paths write the display too, so it is compared every time.
            const int position = slider_->value();
            if (shownText_.isNull() || position != shownPosition_) {
                shownPosition_ = position;
                shownText_ = FormatRate(RateForPosition(position));
            }
            if (display_->text() != shownText_)
                display_->setText(shownText_);
        }
    }
}

bool CPortSetDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == GetDlgItem(res::IDC_RATE_SLIDER)) {
        PreTranslateMessage(watched, event);
        return false;  // the slider handles every event itself
    }
    if (watched == status_ && event->type() == QEvent::MouseButtonPress) {
        // The press goes on to the label, which starts the selection with it.
        status_->removeEventFilter(this);
        status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        status_->setFocusPolicy(Qt::NoFocus);
        return false;
    }
    return TemplateDialog::eventFilter(watched, event);
}

QMenu* CPortSetDlg::CreateSystemMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("IDM_SYSTEM_MENU"));
    menu->addAction(tr("&Move"))->setData(res::SC_MOVE);
    menu->addAction(tr("&Close"))->setData(res::SC_CLOSE);
    const QString aboutText =
        QString::fromUtf8(res::kAboutMenuText.data(), static_cast<int>(res::kAboutMenuText.size()));
    if (!aboutText.isEmpty()) {
        menu->addSeparator();
        menu->addAction(aboutText)->setData(res::IDM_ABOUTBOX);
    }
    return menu;
}

void CPortSetDlg::ShowSystemMenu(QPoint globalPosition) {
    QMenu* menu = CreateSystemMenu();
    const QAction* chosen = menu->exec(globalPosition);
    const int command = chosen != nullptr ? chosen->data().toInt() : 0;
    menu->deleteLater();
    if (command != 0)
        OnSysCommand(command);
}

void CPortSetDlg::OnSysCommand(int command) {
    switch (command & 0xFFF0) {
        case res::IDM_ABOUTBOX: {
            about::CAboutDlg about(this);
            about.DoModal();
            break;
        }
        case res::SC_CLOSE:
            close();
            break;
        case res::SC_MOVE:
            if (QWindow* window = windowHandle())
                window->startSystemMove();
            break;
        default:
            break;
    }
}

void CPortSetDlg::contextMenuEvent(QContextMenuEvent* event) {
    ShowSystemMenu(event->globalPos());
}

void CPortSetDlg::keyPressEvent(QKeyEvent* event) {
    const bool systemMenuKey =
        (event->key() == Qt::Key_Space && event->modifiers() == Qt::AltModifier) ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) ||
        event->key() == Qt::Key_Menu;
    if (systemMenuKey) {
        ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
        return;
    }
    TemplateDialog::keyPressEvent(event);
}

void CPortSetDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        TemplateDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());  // the icon's background
    const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const QSize iconSize(extent, extent);
    painter.drawPixmap(MinimisedIconOrigin(rect().size(), iconSize), icon_.pixmap(iconSize));
}

}  // namespace panel
