// SPDX-License-Identifier: GPL-3.0-or-later
// quorlix --apply: what a script may ask for, the register accesses it costs, and the exit
// statuses it ends with.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <thread>

#include "Capture.h"
#include "FakeSerialDriver.h"
#include "FakeSysfs.h"
#include "TimeLimit.h"
#include "line/HoldLock.h"
#include "line/LineRequest.h"
#include "os/StatusOutput.h"
#include "serial/DriverPortIo.h"
#include "uart/LineSettings.h"
#include "uart/RecordingPortIo.h"

namespace {

QStringList Lines(const uart::RecordingPortIo& io) {
    QStringList lines;
    for (const uart::PortAccess& access : io.Accesses()) {
        lines << QString::fromStdString(uart::FormatAccess(access));
    }
    return lines;
}

// A UART whose line the driver has rewritten (its 8N1) and which takes no write after the
// first four: a line that cannot be set again.
class RefusingUart final : public uart::PortIo {
  public:
    void Out(std::uint16_t, std::uint8_t) override {
        if (++writes_ == 5)  // said once, for the first write it refuses
            Say("the port refused the write", true);
    }
    std::uint8_t In(std::uint16_t port) override { return port == 0x2FB ? 0x13 : 0x08; }

  private:
    int writes_ = 0;
};

// Runs the request as a script over io, opened with `opened`: its status, with what it printed
// and complained.
int RunOver(const line::ApplyRequest& request, uart::PortIo& io, QString& out, QString& err,
            const uart::LineOutcome& opened = {}) {
    int status = -1;
    err = Capture([&](std::FILE* errors) {
        out = Capture([&](std::FILE* output) {
            status = line::RunScripted(request, io, 0x2F8, output, errors, opened);
        });
    });
    return status;
}

// Fills the pipe whose writing end is `fd` with 'x' until it takes no more.
void FillPipe(int fd) {
    fcntl(fd, F_SETFL, O_NONBLOCK);  // only to fill it here
    const std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    fcntl(fd, F_SETFL, 0);
}

// What opening /dev/ttyS1 says when it finds DTR and RTS up.
uart::LineOutcome RaisedByTheOpen() {
    uart::LineOutcome opened;
    opened.notice = "opening /dev/ttyS1 may have raised DTR and RTS";
    return opened;
}

// 45.45 Bd 5N1.5, held.
line::ApplyRequest HeldBaudot() {
    line::ApplyRequest request;
    std::string error;
    line::ParseApply("45.45,5N1.5", request, error);
    request.hold = true;
    static const QTemporaryDir locks;  // the tests' own, not the machine's
    request.lockFolder = locks.path().toStdString();
    return request;
}

// Takes a hold's lock in a child process as `uid` (with no groups) under `mask`. Its exit status
// is 0 when it had the lock as `had` says and said `said`; a child that waits is ended.
int TakeLockAs(uid_t uid, mode_t mask, const std::string& folder, bool had, const QString& said,
               pid_t* child = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        umask(mask);
        if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
            setresuid(uid, uid, uid) != 0)
            _exit(2);
        signal(SIGALRM, SIG_DFL);
        alarm(5);
        uart::RecordingPortIo io;
        std::string refusal, notice;
        const bool taken = line::HoldLock::Take(io, 0x2F8, refusal, notice, folder) != nullptr;
        const QString text = QString::fromStdString(refusal + notice);
        _exit(taken == had && text.contains(said) ? 0 : (qWarning("%s", qPrintable(text)), 1));
    }
    int status = -1;
    waitpid(pid, &status, 0);
    if (child != nullptr)
        *child = pid;
    return status;
}

}  // namespace

class ScriptedMode : public QObject {
    Q_OBJECT

  private slots:
    void init() { uart::LineSettings = uart::LineSettingsData{}; }

    void applyTextIsReadStrictly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("rate");  // 0: none
        QTest::addColumn<int>("framing");  // the line control byte, -1: none
        QTest::newRow("rate and framing") << "45.45,5N1.5" << true << 45.45 << 0x04;
        QTest::newRow("rate alone") << "74.2" << true << 74.2 << -1;
        QTest::newRow("framing alone") << "8E1" << true << 0.0 << 0x1B;
        QTest::newRow("framing after a comma") << ",7M2" << true << 0.0 << 0x2E;
        QTest::newRow("lower-case parity") << "110,8n1" << true << 110.0 << 0x03;
        QTest::newRow("odd parity") << "110,7O2" << true << 110.0 << 0x0E;
        QTest::newRow("space parity") << "300,6S2" << true << 300.0 << 0x3D;
        QTest::newRow("1.5 stop with 7 bits is refused") << "7E1.5" << false << 0.0 << -1;
        QTest::newRow("1.5 stop with 8 bits is refused") << "50,8N1.5" << false << 0.0 << -1;
        QTest::newRow("capital E after a word length is even parity")
            << "5E1" << true << 0.0 << 0x18;
        QTest::newRow("blanks around both parts") << " 110 , 8N1 " << true << 110.0 << 0x03;
        QTest::newRow("a trailing blank as a leading one") << "74.2 " << true << 74.2 << -1;
        QTest::newRow("35 is not above the floor") << "35" << false << 0.0 << -1;
        QTest::newRow("above 115200") << "200000" << false << 0.0 << -1;
        QTest::newRow("not a number") << "fast" << false << 0.0 << -1;
        QTest::newRow("trailing junk") << "45.45x" << false << 0.0 << -1;
        QTest::newRow("nan") << "nan" << false << 0.0 << -1;
        QTest::newRow("4 data bits") << "45.45,4N1" << false << 0.0 << -1;
        QTest::newRow("parity X") << "45.45,8X1" << false << 0.0 << -1;
        QTest::newRow("3 stop bits") << "45.45,8N3" << false << 0.0 << -1;
        QTest::newRow("empty") << "" << false << 0.0 << -1;
        QTest::newRow("dangling comma") << "45.45," << false << 0.0 << -1;
    }
    void applyTextIsReadStrictly() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(double, rate);
        QFETCH(int, framing);
        line::ApplyRequest request;
        std::string error;
        QCOMPARE(line::ParseApply(text.toStdString(), request, error), ok);
        QCOMPARE(error.empty(), ok);
        if (!ok)
            return;
        QCOMPARE(request.rate.value_or(0.0), rate);
        QCOMPARE(request.framing.has_value(), framing >= 0);
        if (request.framing)
            QCOMPARE(int(request.framing->LineControl()), framing);
    }

    void scriptCostsThePanelsAccesses_data() {
        QTest::addColumn<QString>("apply");
        QTest::addColumn<QString>("dtr");
        QTest::addColumn<QString>("rts");
        QTest::addColumn<QStringList>("accesses");
        QTest::addColumn<QString>("err");  // for an address where no UART answers
        const QString none;
        const QString readBack = "in 0x2FC 0x08";  // once, after the writes
        QTest::newRow("rate with framing: four writes")
            << "45.45,5N1.5" << none << none
            << QStringList{"out 0x2FB 0x80", "out 0x2F9 0x09", "out 0x2F8 0xE6", "out 0x2FB 0x04",
                           readBack}
            << none;
        QTest::newRow("rate alone writes back the framing read, without latch or break")
            << "110" << none << none
            << QStringList{"in 0x2FC 0x08",  "in 0x2FB 0xC3",  "out 0x2FB 0x80",
                           "out 0x2F9 0x04", "out 0x2F8 0x17", "out 0x2FB 0x03"}
            << none;
        QTest::newRow("framing alone: one write")
            << "8E1" << none << none << QStringList{"out 0x2FB 0x1B", readBack} << none;
        QTest::newRow("DTR then RTS, each read-modify-write")
            << none << "on"
            << "off"
            << QStringList{"in 0x2FC 0x08", "out 0x2FC 0x09", "in 0x2FC 0x08", "out 0x2FC 0x08"}
            << none;
        QTest::newRow("everything, in the panel's order")
            << "300,8N1"
            << "off"
            << "on" << QStringList{"out 0x2FB 0x80", "out 0x2F9 0x01", "out 0x2F8 0x80",
                                   "out 0x2FB 0x03", readBack,         "in 0x2FC 0x08",
                                   "out 0x2FC 0x08", "in 0x2FC 0x08",  "out 0x2FC 0x0A"}
            << none;
        QTest::newRow("no UART at the address: said after the writes, DTR not set after it")
            << "45.45,5N1.5"
            << "on" << none
            << QStringList{"out 0x2FB 0x80", "out 0x2F9 0x09", "out 0x2F8 0xE6", "out 0x2FB 0x04",
                           "in 0x2FC 0xFF"}
            << "quorlix: no UART answers at 0x2F8 (its modem control register reads 0xFF)\n"
               "quorlix: DTR left as it was: the line was not set\n";
        QTest::newRow("no UART at the address: a rate alone writes nothing")
            << "45.45" << none << none << QStringList{"in 0x2FC 0xFF"}
            << "quorlix: no UART answers at 0x2F8 (its modem control register reads 0xFF): "
               "nothing was set\n";
    }
    void scriptCostsThePanelsAccesses() {
        QFETCH(QString, apply);
        QFETCH(QString, dtr);
        QFETCH(QString, rts);
        QFETCH(QStringList, accesses);
        QFETCH(QString, err);
        line::ApplyRequest request;
        std::string error;
        if (!apply.isEmpty())
            QVERIFY(line::ParseApply(apply.toStdString(), request, error));
        if (!dtr.isEmpty())
            request.dtr = dtr == "on";
        if (!rts.isEmpty())
            request.rts = rts == "on";
        uart::RecordingPortIo io;
        if (err.isEmpty()) {               // else nothing answers: every read is 0xFF
            io.SetReadValue(0x2FB, 0xC3);  // 8N1, the latch open and a break on
            io.SetReadValue(0x2FC, 0x08);
        }
        const uart::ScopedPortIo installed(io);
        QString said, complained;
        QCOMPARE(RunOver(request, io, said, complained), err.isEmpty() ? 0 : 1);
        QCOMPARE(Lines(io), accesses);
        QCOMPARE(complained, err);
    }

    // Over a stand-in for the serial driver: each line is printed once the driver has answered.
    void driverOutcomesAreSaidAfterTheFact_data() {
        // refuses (a custom divisor), fails, held elsewhere, raised by the open (DTR and RTS up
        // before), RTS off (asked instead of on), the bridge keeps the port open, or a Raspberry
        // Pi's PL011 at 48 MHz
        QTest::addColumn<QString>("habit");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("apply");
        QTest::addColumn<bool>("hupcl");    // the note on the hang-up at the last close ends it
        QTest::addColumn<QString>("line");  // the framing the driver has afterwards
        QTest::addColumn<QString>("out");   // after the port's name, before the note on HUPCL
        QTest::addColumn<QString>("err");
        const QString rate110 =
            "rate: 110.00 Bd asked, divisor 1047 gives 110.03 Bd (+0.03 %)\n"
            "framing: 8 data bits, no parity, 1 stop bit\n"
            "note: opening /dev/ttyS1 may have raised DTR and RTS\n";
        QTest::newRow("a rate alone keeps the driver's 8N1")
            << QString() << 0 << "110" << true << "8N1" << rate110 + "RTS on\n"
            << QString();
        QTest::newRow("another program holds the port: DTR and RTS stay, nothing to say")
            << "held elsewhere" << 0 << "110" << false << "8N1" << rate110 + "RTS on\n"
            << QString();
        QTest::newRow("DTR and RTS raised by the open already: still dropped at the last close")
            << "raised by the open" << 0 << "110" << true << "8N1" << rate110 + "RTS on\n"
            << QString();
        QTest::newRow("no line asked up: nothing for the last close to undo")
            << "RTS off" << 0 << "110" << false << "8N1" << rate110 + "RTS off\n"
            << QString();
        QTest::newRow("the bridge goes on holding the port: nothing to say yet")
            << "bridge" << 0 << "110" << false << "8N1" << rate110 + "RTS on\n"
            << QString();
        QTest::newRow("the whole-rate fallback names the rate set")
            << "refuses" << 0 << "45.45,5N1.5" << true << "5N1.5"
            << "rate: 45.45 Bd asked, the driver set 45.00 Bd (-0.99 %)\n"
               "framing: 5 data bits, no parity, 1.5 stop bits\n"
               "note: opening /dev/ttyS1 may have raised DTR and RTS; no exact divisor (it "
               "refused a custom divisor: Invalid argument): nearest whole rate 45 Bd set "
               "instead\n"
               "RTS on\n"
            << QString();
        QTest::newRow("refused settings: no rate line, only the failure, and RTS not raised")
            << "fails" << 1 << "45.45,5N1.5" << false << "8N1" << QString()
            << "quorlix: opening /dev/ttyS1 may have raised DTR and RTS; the driver refused the "
               "line settings (Invalid argument)\n"
               "quorlix: RTS left as it was: the line was not set\n";
        QTest::newRow("the PL011: the rate it runs, a lower clock, RTS only through an overlay")
            << "pl011" << 0 << "45.45,5N1.5" << true << "5N1.5"
            << "rate: 45.45 Bd asked, the PL011 runs 46.00 Bd (+1.21 %)\n"
               "framing: 5 data bits, no parity, 1.5 stop bits\n"
               "note: opening /dev/ttyS1 may have raised DTR and RTS; 1.5 stop bits asked, this "
               "chip is told 2; init_uart_clock=3000000 in config.txt runs 45.00 Bd\n"
               "RTS on\n"
               "note: the Raspberry Pi's header has no DTR pin, and RTS reaches one only through "
               "an overlay\n"
            << QString();
    }
    void driverOutcomesAreSaidAfterTheFact() {
        QFETCH(QString, apply);
        QFETCH(QString, habit);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(bool, hupcl);
        QFETCH(QString, err);
        QFETCH(QString, line);
        line::ApplyRequest request;
        std::string error;
        QVERIFY(line::ParseApply(apply.toStdString(), request, error));
        request.rts = habit != "RTS off";  // a later step, said whatever came before
        request.portStaysOpen = habit == "bridge";
        auto* driver = new FakeSerialDriver;
        driver->refusesCustom = habit == "refuses";
        driver->setTermiosError = habit == "fails" ? EINVAL : 0;
        driver->heldElsewhere = habit == "held elsewhere";
        driver->lines = habit == "raised by the open" ? TIOCM_DTR | TIOCM_RTS : 0;
        std::optional<usb::Chip> chip;
        if (habit == "pl011") {
            FakeSysfs sysfs;
            sysfs.AddPort(makedev(204, 64), "uart-pl011");
            sysfs.SetMachine("Raspberry Pi 3 Model B Rev 1.2");
            chip = usb::ChipOf(*usb::IdentifyAdapter(makedev(204, 64), sysfs.Root()));
            driver->serial.baud_base = 3000000;
        }
        serial::DriverPortIo io(0x2F8, "/dev/ttyS1", std::unique_ptr<serial::SerialDriver>(driver),
                                chip);
        const uart::ScopedPortIo installed(io);
        QString said, complained;
        QCOMPARE(RunOver(request, io, said, complained, RaisedByTheOpen()), status);
        QCOMPARE(said, QString::fromStdString(io.Label(0x2F8)) + "\n" + out +
                           (hupcl ? "note: the kernel drops DTR and RTS when the last program "
                                    "closes /dev/ttyS1 (HUPCL), and no other program was seen "
                                    "holding it open; --hold keeps them\n"
                                  : ""));
        QCOMPARE(complained, err);
        QCOMPARE(
            QString::fromStdString(uart::Framing::FromTermios(driver->termios.c_cflag).Compact()),
            line);
    }

    // What the open did is said once, with the first step, whichever step that is.
    void whatTheOpenDidIsSaidWithTheFirstStep() {
        line::ApplyRequest request;
        request.dtr = true;
        request.rts = true;
        request.portStaysOpen = true;
        FakeSerialDriver* driver = new FakeSerialDriver;
        serial::DriverPortIo io(0x2F8, "/dev/ttyS1", std::unique_ptr<serial::SerialDriver>(driver));
        const uart::ScopedPortIo installed(io);
        QString said, complained;
        QCOMPARE(RunOver(request, io, said, complained, RaisedByTheOpen()), 0);
        QCOMPARE(said, QStringLiteral("/dev/ttyS1 · driver\nDTR on\n"
                                      "note: opening /dev/ttyS1 may have raised DTR and RTS\n"
                                      "RTS on\n"));
        QCOMPARE(complained, QString());
    }

    // The 8250 driver's own 5N1.5 after the terminal program's stty, which may have changed the
    // divisor behind the latch: the same framing, with the even-parity select bit the driver
    // always sets. Every look finds it and sets the line again, until SIGTERM ends the hold
    // with status 0 and its summary. A hang-up that is ignored (nohup) does not end it. While
    // the output is blocked (a stopped terminal) the lines are dropped, and counted once: in
    // the next line that goes out, or at the end, which waits a while for its reader.
    void holdReappliesUntilASignal_data() {
        QTest::addColumn<int>("blockedMs");  // how long the output takes nothing
        QTest::newRow("output flowing") << 0;
        QTest::newRow("output blocked, then flowing: the next line counts what was dropped") << 250;
        QTest::newRow("output blocked past SIGTERM: the count comes before the summary") << 900;
    }
    void holdReappliesUntilASignal() {
        QFETCH(int, blockedMs);
        uart::RecordingPortIo io;
        io.SetReadValue(0x2FB, 0x14);
        io.SetReadValue(0x2FC, 0x08);
        const uart::ScopedPortIo installed(io);
        int ends[2];
        QVERIFY(pipe(ends) == 0);
        if (blockedMs != 0)
            FillPipe(ends[1]);
        QByteArray text;
        std::thread reader([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(blockedMs));
            char buffer[4096];
            for (ssize_t size; (size = read(ends[0], buffer, sizeof buffer)) > 0;)
                text.append(buffer, int(size));
        });
        signal(SIGHUP, SIG_IGN);
        std::thread terminate([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(getpid(), SIGHUP);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            kill(getpid(), SIGTERM);
        });
        std::FILE* out = fdopen(ends[1], "w");
        int status = -1;
        const QString err = Capture([&](std::FILE* errors) {
            status = line::RunScripted(HeldBaudot(), io, 0x2F8, out, errors);
        });
        terminate.join();
        signal(SIGHUP, SIG_DFL);
        std::fclose(out);
        reader.join();
        close(ends[0]);
        QCOMPARE(status, 0);
        QCOMPARE(err, QString());
        while (text.startsWith('x'))  // what filled the pipe
            text.remove(0, 1);
        const QStringList said = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(said.at(3),
                 QStringLiteral("hold: looking every 100 ms; Ctrl+C or SIGTERM ends it"));
        static const QRegularExpression summary(
            QStringLiteral("^hold ended: re-applied (\\d+)\u00D7, last: the driver set 5N1\\.5$"));
        const QRegularExpressionMatch summed = summary.match(said.last());
        QVERIFY2(summed.hasMatch(), qPrintable(said.join('\n')));
        const int count = summed.captured(1).toInt();
        QVERIFY2(count >= 1 && count <= 4, qPrintable(said.join('\n')));
        // Each re-application is said with its time, or counted as dropped, once.
        static const QRegularExpression stamped(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} re-applied: the driver set 5N1\\.5$"));
        static const QRegularExpression dropped(
            QStringLiteral("^\\((\\d+) lines dropped while the output was blocked\\)$"));
        int shown = 0, counted = 0;
        for (const QString& line : said.mid(4, said.size() - 5)) {
            const QRegularExpressionMatch drop = dropped.match(line);
            QVERIFY2(stamped.match(line).hasMatch() || drop.hasMatch(), qPrintable(line));
            shown += drop.hasMatch() ? 0 : 1;
            counted += drop.hasMatch() ? drop.captured(1).toInt() : 0;
        }
        QCOMPARE(shown + counted, count);
        QCOMPARE(counted > 0, blockedMs != 0);
        // Each look: two reads; each re-application: the four writes of a rate change.
        const QStringList rate{"out 0x2FB 0x80", "out 0x2F9 0x09", "out 0x2F8 0xE6",
                               "out 0x2FB 0x04"};
        QStringList expected = rate;
        expected << "in 0x2FC 0x08";  // the read-back after the first four
        for (int i = 0; i < count; ++i)
            expected << "in 0x2FB 0x14"
                     << "in 0x2FC 0x08" << rate;
        QCOMPARE(Lines(io), expected);
    }

    // A reader that does not keep up never holds the hold's loop: a line it takes nothing of is
    // dropped at once, and the next line that goes out says so. A terminal that nobody reads
    // says it has room while one byte is free: a line it takes in part is finished later, never
    // cut, and the lines meanwhile are dropped.
    void statusLinesNeverWaitForTheReader_data() {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("a full pipe") << false;
        QTest::newRow("a terminal that nobody reads") << true;
    }
    void statusLinesNeverWaitForTheReader() {
        QFETCH(bool, terminal);
        int reader = -1, writer = -1;
        if (terminal) {
            reader = posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(reader >= 0 && grantpt(reader) == 0 && unlockpt(reader) == 0);
            writer = open(ptsname(reader), O_RDWR | O_NOCTTY);
        } else {
            int ends[2];
            QVERIFY(pipe(ends) == 0);
            reader = ends[0];
            writer = ends[1];
            FillPipe(writer);
        }
        std::FILE* stream = fdopen(writer, "w");
        std::fputs("hold: looking every 100 ms\n", stream);  // said before the loop
        const TimeLimit limit(5);
        os::StatusOutput output(stream);
        QByteArray went;  // the lines the reader took, wholly or in part
        for (int i = 0; output.Dropped() < 2 && i < 100000; ++i) {
            const std::string line = "re-applied " + std::to_string(i);
            output.Line(line);  // would block, were it written to the stream
            if (output.Dropped() == 0)
                went += QByteArray::fromStdString(line) + '\n';
        }
        QCOMPARE(output.Dropped(), std::size_t{2});
        QCOMPARE(went.isEmpty(), !terminal);
        fcntl(reader, F_SETFL, O_NONBLOCK);
        QByteArray text;
        char drained[4096];
        const auto drain = [&] {
            for (pollfd more{reader, POLLIN, 0}; poll(&more, 1, 200) > 0;) {
                const ssize_t size = read(reader, drained, sizeof drained);
                if (size <= 0)
                    break;
                text.append(drained, int(size));
            }
        };
        drain();
        output.Line("re-applied again");
        output.Line("re-applied once more");  // the count was said: not again
        drain();
        std::fclose(stream);
        close(reader);
        while (text.startsWith('x'))  // what filled the pipe
            text.remove(0, 1);
        text.replace('\r', "");  // a terminal's output turns NL into CR NL
        QCOMPARE(text, "hold: looking every 100 ms\n" + went +
                           "(2 lines dropped while the output was blocked)\nre-applied "
                           "again\nre-applied once more\n");
    }

    // A second hold of a UART that is held already refuses before it writes anything, and names
    // the first, whoever runs it: another user's lock file opens for reading, which is all flock
    // needs. Through the driver the UART is known by its I/O address too, so that a hold over
    // the I/O ports and one through the driver meet.
    void secondHoldOfAUartRefuses_data() {
        QTest::addColumn<bool>("otherUser");  // the second hold runs as nobody, in a child
        QTest::newRow("the same user") << false;
        QTest::newRow("another user: the first hold's lock file opens read-only") << true;
    }
    void secondHoldOfAUartRefuses() {
        QFETCH(bool, otherUser);
        if (otherUser && geteuid() != 0)
            QSKIP("only root can run the second hold as another user");
        line::ApplyRequest request = HeldBaudot();
        const QTemporaryDir locks;  // as /run/lock: anyone may make a lock there
        QVERIFY(chmod(locks.path().toLocal8Bit().constData(), 01777) == 0);
        request.lockFolder = locks.path().toStdString();
        uart::RecordingPortIo io;
        std::string refusal, notice;
        const auto first = line::HoldLock::Take(io, 0x2F8, refusal, notice, request.lockFolder);
        QVERIFY(first && notice.empty());
        // Another user's hold is told whose lock file it is: its number is only that user's word.
        const QString refused =
            QStringLiteral(
                "quorlix: the UART at 0x2F8 is already held by process %1%2: the hold "
                "does not start\n")
                .arg(getpid())
                .arg(otherUser ? " \u2014 the lock file belongs to user 0" : "");
        const auto secondRefuses = [&] {
            QString said, complained;
            return RunOver(request, io, said, complained) == 1 && complained == refused &&
                   io.Accesses().empty();
        };
        if (!otherUser) {
            QVERIFY(secondRefuses());
        } else {
            const pid_t child = fork();
            if (child == 0) {
                alarm(5);  // a hold that starts runs until then
                const bool nobody =
                    setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
                _exit(nobody && secondRefuses() ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(waitpid(child, &status, 0), child);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                     "the second hold did not refuse");
        }
        auto* driver = new FakeSerialDriver;
        driver->serial.port = 0x2F8;
        serial::DriverPortIo ttyS1(0x2F8, "/dev/ttyS1",
                                   std::unique_ptr<serial::SerialDriver>(driver));
        QCOMPARE(QString::fromStdString(ttyS1.HoldKey(0x2F8)), QStringLiteral("0x2F8"));
        // Behind USB the same field holds the port's index on its adapter: the device's number.
        auto* adapter = new FakeSerialDriver;
        adapter->serial.port = 1;
        adapter->device = makedev(188, 0);
        serial::DriverPortIo ttyUSB0(0x2F8, "/dev/ttyUSB0",
                                     std::unique_ptr<serial::SerialDriver>(adapter), usb::Chip{});
        QCOMPARE(QString::fromStdString(ttyUSB0.HoldKey(0x2F8)), QStringLiteral("188:0"));
    }

    // What another user leaves at the lock's place neither hangs a hold nor keeps it out, and
    // a refusal tells what the lock file knows: whose it is, and a holder that is gone.
    void lockFilesOthersLeave_data() {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("said");  // %1: the process that made the file
        QTest::newRow("another's FIFO: no wait, unlocked, said")
            << "fifo"
            << "(not a regular file): a second hold of this UART";
        QTest::newRow("a folder the user may not write: the open's own reason")
            << "folder"
            << "(Permission denied)";
        QTest::newRow("made under umask 077 by a hold now gone: still open to others")
            << "gone"
            << "the UART at 0x2F8 is already held \u2014 the lock file names process %1, which is "
               "not running, and belongs to user 65533";
    }
    void lockFilesOthersLeave() {
        QFETCH(QString, left);
        QFETCH(QString, said);
        if (geteuid() != 0)
            QSKIP("needs root, to be two other users");
        const QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        const std::string path = folder + "/quorlix-0x2F8.lock";
        QVERIFY(chmod(folder.c_str(), left == "folder" ? 0755 : 01777) == 0);
        QVERIFY(left != "fifo" || mkfifo(path.c_str(), 0644) == 0);
        pid_t maker = 0;
        QCOMPARE(left == "gone" ? TakeLockAs(65533, 077, folder, true, "", &maker) : 0, 0);
        const int held = open(path.c_str(), O_RDONLY | O_NONBLOCK);  // by one that wrote nothing
        QVERIFY(left != "gone" || flock(held, LOCK_EX) == 0);
        QCOMPARE(TakeLockAs(65534, 022, folder, left != "gone",
                            said.replace("%1", QString::number(maker))),
                 0);
        close(held);
    }

    void holdEndsWhenTheLineCannotBeSetAgain() {
        RefusingUart io;
        const uart::ScopedPortIo installed(io);
        QString said, complained;
        alarm(5);  // a hold that carries on fails the test instead of hanging it
        const int status = RunOver(HeldBaudot(), io, said, complained);
        alarm(0);
        QCOMPARE(status, 1);
        static const QRegularExpression failed(
            QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3} could not re-apply: the driver set "
                           "8N1\\nhold ended: not re-applied\\n$"));
        QVERIFY2(failed.match(said).hasMatch(), qPrintable(said));
        QCOMPARE(complained,
                 QStringLiteral("quorlix: the port refused the write\nquorlix: the hold ends\n"));
    }
};

QTEST_APPLESS_MAIN(ScriptedMode)
#include "scripted_mode.moc"
