// Measures quorlix against bare baselines in the same run on the same machine and prints ratios:
// start-up time and peak memory against a bare dialog with the same 29 controls, the slider
// look-ahead's cost per event against a bare slider with an empty filter, and the port accesses
// and driver calls each action costs.
//
//   quorlix_bench [--runs N] [--events N]     (defaults 9 and 10000; --smoke: 2 and 200)
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/PortSetApp.h"
#include "panel/PortSetDlg.h"
#include "panel/TemplateDialog.h"
#include "panel/TrackbarSlider.h"
#include "res/DialogTemplate.h"
#include "res/ResourceIds.h"
#include "uart/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/PortSelection.h"
#include "uart/RecordingPortIo.h"
#include "FakeSerialDriver.h"

extern char** environ;

namespace {

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

long PeakRssKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

struct Spread {
    double min, median, max;
};
Spread SpreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

void Row(const char* what, const std::vector<double>& ratios, const char* target) {
    const Spread s = SpreadOf(ratios);
    std::printf("%-34s %8.3f %8.3f %8.3f   %s\n", what, s.min, s.median, s.max, target);
}

// --- start-up, in a child process --------------------------------------------------------------

// In a child: reports the monotonic time and peak memory at the first paint of a top-level
// dialog, then closes it.
class FirstPaintProbe : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!done_ && event->type() == QEvent::Paint && widget != nullptr && widget->isWindow()) {
            done_ = true;
            std::printf("%.9f %ld\n", Now(), PeakRssKib());
            std::fflush(stdout);
            QTimer::singleShot(0, widget, [widget] { widget->close(); });
        }
        return false;
    }

private:
    bool done_ = false;
};

bool childProcess = false;
void InstallProbe() {
    if (childProcess) qApp->installEventFilter(new FirstPaintProbe);
}
Q_COREAPP_STARTUP_FUNCTION(InstallProbe)

// The baseline: a plain QDialog holding the same 29 controls at the same places.
int RunBareDialog(int argc, char** argv) {
    QApplication application(argc, argv);
    QDialog dialog;
    const QFont font(QStringLiteral("MS Sans Serif"), 8);
    dialog.setFont(font);
    const panel::DialogUnits units = panel::DialogUnits::ForFont(font);
    for (const res::ControlTemplate& row : res::kPortSetDialog.controls) {
        const QString text = QString::fromUtf8(row.text);
        QWidget* widget = nullptr;
        switch (row.kind) {
            case res::ControlKind::GroupBox: widget = new QGroupBox(text, &dialog); break;
            case res::ControlKind::AutoRadioButton: widget = new QRadioButton(text, &dialog); break;
            case res::ControlKind::AutoCheckBox: widget = new QCheckBox(text, &dialog); break;
            case res::ControlKind::Edit: widget = new QLineEdit(text, &dialog); break;
            case res::ControlKind::Trackbar: widget = new QSlider(Qt::Vertical, &dialog); break;
            default: widget = new QPushButton(text, &dialog); break;
        }
        widget->setGeometry(units.ToPixels(row.rect));
    }
    dialog.setFixedSize(units.ToPixels(res::kPortSetDialog.width, res::kPortSetDialog.height));
    dialog.exec();
    return 0;
}

struct StartSample {
    double seconds;
    double peakKib;
};

StartSample SpawnAndWait(const char* self, const char* mode) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {0, 0};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char* const args[] = {const_cast<char*>(self), const_cast<char*>("--child"),
                          const_cast<char*>(mode), const_cast<char*>("-platform"),
                          const_cast<char*>("offscreen"), nullptr};
    const double started = Now();
    pid_t pid = 0;
    posix_spawn(&pid, self, &actions, nullptr, args, environ);
    close(pipeFds[1]);
    std::string output;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) output.append(buffer, got);
    close(pipeFds[0]);
    waitpid(pid, nullptr, 0);
    posix_spawn_file_actions_destroy(&actions);
    double paintedAt = 0;
    long peak = 0;
    std::sscanf(output.c_str(), "%lf %ld", &paintedAt, &peak);
    return {paintedAt - started, static_cast<double>(peak)};
}

// --- the slider look-ahead -------------------------------------------------------------------

class EmptyFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent*) override { return false; }
};

// Events bound for the slider as a user makes them: a drag, keys, repaints.
void Drive(QSlider* slider, int events) {
    const QPoint top(slider->width() / 2, 4);
    for (int i = 0; i < events;) {
        QTest::mousePress(slider, Qt::LeftButton, {}, top);
        ++i;
        for (int step = 0; step < 40 && i < events; ++step, ++i) {
            QTest::mouseMove(slider, top + QPoint(0, step * 3));
        }
        QTest::mouseRelease(slider, Qt::LeftButton, {}, top + QPoint(0, 120));
        ++i;
        for (int key = 0; key < 20 && i < events; ++key, ++i) {
            QTest::keyPress(slider, key % 2 ? Qt::Key_Down : Qt::Key_Up);
        }
        for (int paint = 0; paint < 10 && i < events; ++paint, ++i) slider->repaint();
    }
}

struct LookAheadSample {
    double ratio;
    double ourMicroseconds, bareMicroseconds;
    int lost;
};

LookAheadSample MeasureLookAhead(int events) {
    uart::RecordingPortIo io;
    const uart::ScopedPortIo installed(io);
    uart::LineSettings = uart::LineSettingsData{};
    panel::CPortSetDlg panel;
    panel.show();
    (void)QTest::qWaitForWindowExposed(&panel);
    panel.OnRatePreset(panel::kRatePresets[3]);
    auto* slider = panel.GetItem<QSlider>(res::IDC_RATE_SLIDER);
    auto* display = panel.GetItem<QLineEdit>(res::IDC_RATE_DISPLAY);

    // The same slider, set up the same way, with a filter that does nothing.
    QDialog bare;
    auto* bareSlider = new panel::TrackbarSlider(Qt::Vertical, &bare);
    bareSlider->setGeometry(slider->geometry());
    bareSlider->setTickPosition(slider->tickPosition());
    bareSlider->SetTrackbarRange(slider->minimum(), slider->maximum());
    bareSlider->setValue(slider->value());
    EmptyFilter empty;
    bareSlider->installEventFilter(&empty);
    bare.resize(panel.size());
    bare.show();
    (void)QTest::qWaitForWindowExposed(&bare);

    Drive(slider, events / 10);  // warm both up first
    Drive(bareSlider, events / 10);
    double start = CpuNow();
    Drive(bareSlider, events);
    const double baseline = CpuNow() - start;
    start = CpuNow();
    Drive(slider, events);
    const double withLookAhead = CpuNow() - start;

    // Lost updates: a queued event bound for the slider that left the display unwritten.
    int lost = 0;
    for (int i = 0; i < std::min(events, 500); ++i) {
        display->setText(QStringLiteral("?"));
        QTest::keyPress(slider, i % 2 ? Qt::Key_Down : Qt::Key_Up);
        if (display->text() == QStringLiteral("?")) ++lost;
    }
    return {withLookAhead / baseline, withLookAhead / events * 1e6, baseline / events * 1e6, lost};
}

// --- accesses and driver calls per action ----------------------------------------------------

struct Counts {
    int startup, rate, framing, modem;
};

Counts CountAccesses() {
    uart::RecordingPortIo io;
    io.SetReadValue(0x2FC, 0x08);
    const uart::ScopedPortIo installed(io);
    uart::LineSettings = uart::LineSettingsData{};
    uart::SetProcessCommandLine("quorlix 2");
    Counts counts{};
    panel::CPortSetDlg panel;
    panel.show();
    (void)QTest::qWaitForWindowExposed(&panel);
    counts.startup = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_RATE_74_2)->click();
    counts.rate = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_PARITY_EVEN)->click();
    counts.framing = static_cast<int>(io.Accesses().size());
    io.Clear();
    panel.GetItem<QAbstractButton>(res::IDC_DTR)->click();
    counts.modem = static_cast<int>(io.Accesses().size());
    return counts;
}

Counts CountDriverCalls() {
    auto* driver = new FakeSerialDriver;
    uart::DriverPortIo io(0x2F8, "/dev/ttyS1", std::unique_ptr<uart::SerialDriver>(driver));
    const uart::ScopedPortIo installed(io);
    uart::LineSettings = uart::LineSettingsData{};
    uart::LineSettings.portBase = 0x2F8;
    Counts counts{};
    uart::ProgramUart(0x2F8, 74.2);
    counts.rate = static_cast<int>(driver->calls.size());
    driver->calls.clear();
    uart::LineSettings.parityBits = 0x18;
    uart::ProgramUart(0x2F8, 0);
    counts.framing = static_cast<int>(driver->calls.size());
    driver->calls.clear();
    uart::SetModemLine(0x01, true);
    counts.modem = static_cast<int>(driver->calls.size());
    return counts;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        childProcess = true;
        std::vector<char*> rest{argv[0]};
        for (int i = 3; i < argc; ++i) rest.push_back(argv[i]);
        if (std::strcmp(argv[2], "panel") == 0) {
            std::vector<char*> args{argv[0], const_cast<char*>("--simulate")};
            args.insert(args.end(), rest.begin() + 1, rest.end());
            args.push_back(nullptr);
            std::FILE* sink = std::fopen("/dev/null", "w");
            const int status = app::Main(static_cast<int>(args.size() - 1), args.data(),
                                         {nullptr, sink, stderr});
            std::fclose(sink);
            return status;
        }
        rest.push_back(nullptr);
        return RunBareDialog(static_cast<int>(rest.size() - 1), rest.data());
    }

    int runs = 9, events = 10000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) runs = 2, events = 200;
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc) events = std::atoi(argv[++i]);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::vector<double> timeRatios, rssRatios, lookAheadRatios, ourStarts, bareStarts;
    for (int run = 0; run < runs; ++run) {
        const StartSample bare = SpawnAndWait(argv[0], "bare");
        const StartSample ours = SpawnAndWait(argv[0], "panel");
        if (bare.seconds <= 0 || ours.seconds <= 0 || bare.peakKib <= 0) {
            std::fprintf(stderr, "quorlix_bench: a start-up child reported nothing\n");
            return 1;
        }
        timeRatios.push_back(ours.seconds / bare.seconds);
        ourStarts.push_back(ours.seconds * 1000);
        bareStarts.push_back(bare.seconds * 1000);
        rssRatios.push_back(ours.peakKib / bare.peakKib);
    }

    int argcQt = 1;
    QApplication application(argcQt, argv);
    int lost = 0;
    std::vector<double> ourMicroseconds, bareMicroseconds;
    for (int run = 0; run < runs; ++run) {
        const LookAheadSample sample = MeasureLookAhead(events);
        lookAheadRatios.push_back(sample.ratio);
        ourMicroseconds.push_back(sample.ourMicroseconds);
        bareMicroseconds.push_back(sample.bareMicroseconds);
        lost += sample.lost;
    }
    const Counts accesses = CountAccesses();
    const Counts calls = CountDriverCalls();

    std::printf("quorlix against bare baselines, %d runs, %d slider events a run\n\n", runs, events);
    std::printf("%-34s %8s %8s %8s   %s\n", "ratio (ours / baseline)", "min", "median", "max", "target");
    Row("start-up to first paint", timeRatios, "<= 1.10");
    Row("peak RSS at first paint", rssRatios, "<= 1.05");
    Row("CPU per slider event", lookAheadRatios, "<= 1.10");
    std::printf("%-34s %8.1f (quorlix)    %8.1f (bare)\n", "median ms to first paint",
                SpreadOf(ourStarts).median, SpreadOf(bareStarts).median);
    std::printf("%-34s %8d   %s\n", "slider events that lost an update", lost, "0");
    std::printf("%-34s %8.1f (look-ahead) %8.1f (bare)\n\n", "median CPU us per slider event",
                SpreadOf(ourMicroseconds).median, SpreadOf(bareMicroseconds).median);
    std::printf("%-34s %8s %8s\n", "per action", "measured", "expected");
    std::printf("%-34s %8d %8d\n", "port accesses at start-up", accesses.startup, 0);
    std::printf("%-34s %8d %8d\n", "port accesses for a rate change", accesses.rate, 4);
    std::printf("%-34s %8d %8d\n", "port accesses for a framing change", accesses.framing, 1);
    std::printf("%-34s %8d %8d\n", "port accesses for a modem line", accesses.modem, 2);
    std::printf("%-34s %8d %8s\n", "driver calls for a rate change", calls.rate, "<= 3");
    std::printf("%-34s %8d %8s\n", "driver calls for a framing change", calls.framing, "<= 3");
    std::printf("%-34s %8d %8s\n", "driver calls for a modem line", calls.modem, "<= 3");
    const bool exact = accesses.startup == 0 && accesses.rate == 4 && accesses.framing == 1 &&
                       accesses.modem == 2 && lost == 0;
    return exact ? 0 : 1;
}
