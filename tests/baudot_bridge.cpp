// SPDX-License-Identifier: GPL-3.0-or-later
// quorlix --bridge: the rules that turn ASCII into five-bit codes and back, the loop that moves
// them between a pseudo-terminal and a port (a pty pair standing in for the port), and the exit
// statuses of a bridge that cannot start.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "Capture.h"
#include "FakeDriverPort.h"
#include "FakeSerialDriver.h"
#include "FakeSysfs.h"
#include "PortStandIn.h"
#include "TimeLimit.h"
#include "bridge/Baudot.h"
#include "bridge/BridgeMode.h"
#include "bridge/Motor.h"
#include "bridge/Pump.h"
#include "bridge/Spool.h"
#include "line/HoldLock.h"
#include "uart/RecordingPortIo.h"
#include "uart/Registers.h"
#include "usb/Adapter.h"

namespace {

const bridge::CodeSet& CodeSetNamed(const QString& name) {
    return *bridge::FindCodeSet(name.toStdString());
}

// Waits up to a second for `size` bytes from `fd`; returns what came.
QByteArray ReadSome(int fd, int size) {
    QByteArray got;
    pollfd wanted{fd, POLLIN, 0};
    while (got.size() < size && poll(&wanted, 1, 1000) > 0) {
        char buffer[64];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<int>(n));
    }
    return got;
}

}  // namespace

class BaudotBridge : public QObject {
    Q_OBJECT

  private slots:
    void sendingRules_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("crFill");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("codes");  // hex
        QTest::addColumn<int>("unprintable");
        QTest::addColumn<int>("dropped");
        QTest::newRow("shift only on a change, space keeps figures, fill after CR")
            << "ita2" << 2 << QByteArray("RYRY 73\r\n")
            << QByteArray("0A150A15 04 1B0701 08 1F1F 02") << 0 << 0;
        QTest::newRow("lower case goes upper case")
            << "ita2" << 2 << QByteArray("ry") << QByteArray("0A15") << 0 << 0;
        QTest::newRow("back to letters only when a letter follows figures")
            << "ita2" << 2 << QByteArray("5 A") << QByteArray("1B10 04 1F03") << 0 << 0;
        QTest::newRow("unshift on space: FIGS again after a space before a figure")
            << "ita2" << 2 << QByteArray("12 34 A") << QByteArray("1B1713 04 1B010A 04 1F03") << 0
            << 0;
        QTest::newRow("unshift on space: no FIGS before a second space")
            << "ita2" << 2 << QByteArray("1  2") << QByteArray("1B17 04 04 1B13") << 0 << 0;
        QTest::newRow("US-TTY: FIGS again after a space too")
            << "ustty" << 2 << QByteArray("1 $") << QByteArray("1B17 04 1B09") << 0 << 0;
        QTest::newRow("--no-usos: figures kept across a space")
            << "ita2 no-usos" << 2 << QByteArray("12 34 A") << QByteArray("1B1713 04 010A 04 1F03")
            << 0 << 0;
        QTest::newRow("no fill: the shift outlasts the line end")
            << "ita2" << 0 << QByteArray("1\r2") << QByteArray("1B17 08 02 13") << 0 << 0;
        QTest::newRow("fill leaves letters: figures shift again")
            << "ita2 raw" << 3 << QByteArray("1\r2") << QByteArray("1B17 08 1F1F1F 1B13") << 0 << 0;
        QTest::newRow("LF alone ends a line: CR, fill, LF")
            << "ita2" << 2 << QByteArray("A\nB") << QByteArray("03 081F1F02 19") << 0 << 0;
        QTest::newRow("CR alone ends a line the same")
            << "ita2" << 2 << QByteArray("A\rB") << QByteArray("03 081F1F02 19") << 0 << 0;
        QTest::newRow("CR LF is one line end")
            << "ita2" << 2 << QByteArray("A\r\nB") << QByteArray("03 081F1F02 19") << 0 << 0;
        QTest::newRow("LF CR is one line end")
            << "ita2" << 2 << QByteArray("A\n\rB") << QByteArray("03 081F1F02 19") << 0 << 0;
        QTest::newRow("LF LF is two: an empty line")
            << "ita2" << 2 << QByteArray("A\n\nB") << QByteArray("03 081F1F02 081F1F02 19") << 0
            << 0;
        QTest::newRow("--newline raw: CR and LF as typed, a line printed over")
            << "ita2 raw" << 2 << QByteArray("A\rB\n") << QByteArray("03 081F1F 19 02") << 0 << 0;
        QTest::newRow("a tab: spaces to the next multiple of 8")
            << "ita2" << 2 << QByteArray("AB\tC") << QByteArray("0319 040404040404 0E") << 0 << 0;
        QTest::newRow("telex spellings: umlauts and sharp s in two letters, the rest one")
            << "ita2" << 2 << QByteArray("\xC3\x84\xC3\xB6\xC3\x9F\xC3\xA9\xC5\x81")
            << QByteArray("0301 1801 0505 01 12") << 0 << 0;
        QTest::newRow("controls without a code dropped, counted apart; WRU kept")
            << "ita2" << 2 << QByteArray("TEH\b\bHE\x03\x1B\x7F\x05")
            << QByteArray("100114 1401 1B09") << 0 << 5;
        QTest::newRow("no code: the figures' ? and counted")
            << "ita2" << 2 << QByteArray("A*B") << QByteArray("03 1B19 1F19") << 1 << 0;
        QTest::newRow("a UTF-8 character without a spelling is one ?")
            << "ita2" << 2 << QByteArray("\xE2\x82\xAC") << QByteArray("1B19") << 1 << 0;
        QTest::newRow("a stray continuation byte, or a lead byte cut short, is one ? too")
            << "ita2" << 2 << QByteArray("\xE2\x82\xAC\xAC\xC3\x41\x80")
            << QByteArray("1B19 19 19 1F03 1B19") << 4 << 0;
        QTest::newRow("ITA2 rings on figures J")
            << "ita2" << 2 << QByteArray("\a") << QByteArray("1B0B") << 0 << 0;
        QTest::newRow("US-TTY rings on figures S")
            << "ustty" << 2 << QByteArray("\a") << QByteArray("1B05") << 0 << 0;
        QTest::newRow("US-TTY has $, ITA2 has not")
            << "ustty" << 2 << QByteArray("$;") << QByteArray("1B09 1E") << 0 << 0;
        QTest::newRow("an arrow or function key's sequence is dropped whole with its ESC")
            << "ita2" << 2 << QByteArray("A\x1B[1;5A\x1BOPB") << QByteArray("03 19") << 0 << 2;
        QTest::newRow("ITA2 has no $")
            << "ita2" << 2 << QByteArray("$") << QByteArray("1B19") << 1 << 0;
    }
    void sendingRules() {
        QFETCH(QString, code);
        QFETCH(int, crFill);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, codes);
        QFETCH(int, unprintable);
        QFETCH(int, dropped);
        bridge::Encoder encoder(
            CodeSetNamed(code.section(' ', 0, 0)), crFill, !code.endsWith("no-usos"), 0,
            code.endsWith("raw") ? bridge::Newline::Raw : bridge::Newline::CrLf);
        std::vector<bridge::Code> sent;
        encoder.Put(text.toStdString(), sent);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(sent.data()), int(sent.size())).toHex(' '),
            QByteArray::fromHex(codes).toHex(' '));
        QCOMPARE(int(encoder.Unprintable()), unprintable);
        QCOMPARE(int(encoder.Dropped()), dropped);
    }

    // A line that would pass the carriage's width, as the machine prints it: read back through
    // the decoder (which shows a figure only where FIGS went before it).
    void carriageWidth_data() {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<int>("held");  // at the end: a space at a possible break and its word
        QTest::newRow("ends at the last space within the last ten columns")
            << QByteArray("THE QUICK BROWN FOX JUMPS") << QByteArray("THE QUICK BROWN FOX\r\nJUMPS")
            << 0;
        QTest::newRow("a space ten columns from the end is where the line ends")
            << QByteArray("ABCDEFGHIJ KLMNOPQRSTUV") << QByteArray("ABCDEFGHIJ\r\nKLMNOPQRSTUV")
            << 0;
        QTest::newRow("a long word ends at the width")
            << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ")
            << QByteArray("ABCDEFGHIJKLMNOPQRST\r\nUVWXYZ") << 0;
        QTest::newRow("a line of spaces")
            << QByteArray(25, ' ') << QByteArray(20, ' ') + "\r\n" + QByteArray(4, ' ') << 0;
        QTest::newRow("figures shift again after the line end")
            << QByteArray("TEL 123456789012345 678") << QByteArray("TEL 123456789012345\r\n678")
            << 0;
        QTest::newRow("a typed CR just before the width is the line's end")
            << QByteArray("ABCDEFGHIJKLMNOPQRST\r\nUV") << QByteArray("ABCDEFGHIJKLMNOPQRST\r\nUV")
            << 0;
        QTest::newRow("a word is held only while it could still end a line")
            << QByteArray("ABCDEFGHIJKLMNOP QR") << QByteArray("ABCDEFGHIJKLMNOP") << 3;
        QTest::newRow("blanks after a held word go at once, never held")
            << QByteArray("ABCDEFGHIJKLMNO P\0\0\0", 20) << QByteArray("ABCDEFGHIJKLMNO") << 2;
        QTest::newRow("a tab stops at the width: a line end after it makes no empty line")
            << QByteArray("ABCDEFGHIJKLMNOPQ\t\nR") << QByteArray("ABCDEFGHIJKLMNOPQ   \r\nR") << 0;
    }
    void carriageWidth() {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, printed);
        QFETCH(int, held);
        bridge::Encoder encoder(bridge::kIta2, 2, true, 20);
        std::vector<bridge::Code> sent;
        encoder.Put(typed.toStdString(), sent);
        bridge::Decoder decoder(bridge::kIta2, true);
        std::string text;
        for (const bridge::Code code : sent)
            decoder.Put(code, text);
        QCOMPARE(QByteArray::fromStdString(text), printed);
        QCOMPARE(encoder.Held(), std::size_t(held));
        // Nothing lost: what is held goes out with the next line end, in order.
        sent.clear();
        encoder.Put("\r", sent);
        for (const bridge::Code code : sent)
            decoder.Put(code, text);
        QCOMPARE(QByteArray::fromStdString(text),
                 printed + QByteArray(typed).replace('\0', "").right(held) + "\r\n");
        QCOMPARE(encoder.Held(), std::size_t(0));
    }

    // One code's time on the line, from the rate it really runs and its framing, and what the
    // time left reads.
    void timeOnTheLine_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("framing");
        QTest::addColumn<double>("milliseconds");
        QTest::newRow("45.46 Bd 5N1.5: 7.5 bits") << 45.46 << "5N1.5" << 164.98;
        QTest::newRow("110 Bd 7E2: 11 bits") << 110.0 << "7E2" << 100.0;
    }
    void timeOnTheLine() {
        QFETCH(double, rate);
        QFETCH(QString, framing);
        QFETCH(double, milliseconds);
        const int data = framing.left(1).toInt();
        const double seconds =
            bridge::CodeSeconds(rate, data, framing[1] != 'N', framing.mid(2).toDouble());
        QCOMPARE(std::round(seconds * 100000) / 100, milliseconds);
        QCOMPARE(QString::fromStdString(bridge::TimeLeftText(3769, 1541, 287.2)),
                 QStringLiteral("sending: 3769 sent, 1541 waiting, 4 min 48 s for those"));
        QCOMPARE(QString::fromStdString(bridge::PrintingText("", 1200, 8789, 1384.2)),
                 QStringLiteral("printing: 1200 of 8789 characters, 23 min 05 s left"));
    }

    void receivingRules_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("usos");
        QTest::addColumn<QByteArray>("codes");  // hex
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("unprintable");
        QTest::newRow("letters until a FIGS, figures until a LTRS")
            << "ita2" << true << QByteArray("0A 1B1713 1F03") << QByteArray("R12A") << 0;
        QTest::newRow("unshift on space")
            << "ita2" << true << QByteArray("1B17 04 13") << QByteArray("1 W") << 0;
        QTest::newRow("--no-usos: space keeps figures")
            << "ita2" << false << QByteArray("1B17 04 13") << QByteArray("1 2") << 0;
        QTest::newRow("CR, fill and LF: the fill prints nothing")
            << "ita2" << true << QByteArray("08 1F1F 02 00") << QByteArray("\r\n") << 0;
        QTest::newRow("ITA2's national-use figure is ?, counted")
            << "ita2" << true << QByteArray("1B0D") << QByteArray("?") << 1;
        QTest::newRow("the same code in US-TTY")
            << "ustty" << true << QByteArray("1B0D") << QByteArray("!") << 0;
        QTest::newRow("bits above the five are ignored")
            << "ita2" << true << QByteArray("EA") << QByteArray("R") << 0;
    }
    void receivingRules() {
        QFETCH(QString, code);
        QFETCH(bool, usos);
        QFETCH(QByteArray, codes);
        QFETCH(QByteArray, text);
        QFETCH(int, unprintable);
        bridge::Decoder decoder(CodeSetNamed(code), usos);
        std::string printed;
        for (const char c : QByteArray::fromHex(codes))
            decoder.Put(static_cast<bridge::Code>(c), printed);
        QCOMPARE(QByteArray::fromStdString(printed), text);
        QCOMPARE(int(decoder.Unprintable()), unprintable);
    }

    // The loop over real descriptors: what the terminal types reaches the port as codes, what
    // the port receives reaches the terminal as text, and how each ending comes about.
    void loopCarriesBothWaysUntilStopped_data() {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("codesSent");  // hex
        QTest::addColumn<QByteArray>("codesReceived");
        QTest::addColumn<QByteArray>("printed");
        QTest::addColumn<int>("stop");  // a signal, or 0: the port goes away
        QTest::addColumn<int>("ending");
        QTest::addColumn<bool>("echo");        // the terminal program turns echo on
        QTest::addColumn<bool>("motorWaits");  // a motor a minute from speed: typed text waits
        QTest::addColumn<int>("thrown");       // characters a break from the line throws away
        QTest::addColumn<bool>("half");        // --loop half: what is sent comes back
        QTest::newRow("typed text leaves as codes, an Esc dropped and counted; SIGINT ends")
            << QByteArray("RYRY 73\x1B\r\n") << QByteArray("0A150A15041B0701081F1F02")
            << QByteArray() << QByteArray() << SIGINT << int(bridge::Ending::Interrupted) << false
            << false << 0 << false;
        QTest::newRow("received codes arrive as text; SIGTERM ends")
            << QByteArray() << QByteArray() << QByteArray("0D 1B 0A 04 0A") << QByteArray("F4 R")
            << SIGTERM << int(bridge::Ending::Terminated) << false << false << 0 << false;
        QTest::newRow("the port going away ends the bridge")
            << QByteArray("E") << QByteArray("01") << QByteArray() << QByteArray() << 0
            << int(bridge::Ending::PortGone) << false << false << 0 << false;
        QTest::newRow("a break from the line (marked): nothing printed for it, said once")
            << QByteArray() << QByteArray() << QByteArray("0D FF0000 FF0000 03") << QByteArray("FA")
            << SIGTERM << int(bridge::Ending::Terminated) << false << false << 0 << false;
        QTest::newRow("a break throws away the text that waits, which never goes out")
            << QByteArray("RYRY") << QByteArray() << QByteArray("FF0000 03") << QByteArray("A")
            << SIGTERM << int(bridge::Ending::Terminated) << false << true << 4 << false;
        QTest::newRow("echo turned on: received text is not sent back")
            << QByteArray() << QByteArray() << QByteArray("0D 1B 0A") << QByteArray("F4") << SIGTERM
            << int(bridge::Ending::Terminated) << true << false << 0 << false;
        // A stand-in loop: the codes sent come back, and then the keyboard's.
        QTest::newRow("--loop half: what was sent comes back, dropped; its shift stays")
            << QByteArray("1") << QByteArray("1B 17") << QByteArray("1B 17 17") << QByteArray("1")
            << SIGTERM << int(bridge::Ending::Terminated) << false << false << 0 << true;
        QTest::newRow("--loop half: a keyboard code in between ends the matching")
            << QByteArray("RY") << QByteArray("0A 15") << QByteArray("0A 01 15") << QByteArray("EY")
            << SIGTERM << int(bridge::Ending::Terminated) << false << false << 0 << true;
        QTest::newRow("--loop full: all that comes back shows")
            << QByteArray("RY") << QByteArray("0A 15") << QByteArray("0A 15") << QByteArray("RY")
            << SIGTERM << int(bridge::Ending::Terminated) << false << false << 0 << false;
    }
    void loopCarriesBothWaysUntilStopped() {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, codesSent);
        QFETCH(QByteArray, codesReceived);
        QFETCH(QByteArray, printed);
        QFETCH(int, stop);
        QFETCH(int, ending);
        QFETCH(bool, echo);
        QFETCH(bool, motorWaits);
        QFETCH(int, thrown);
        QFETCH(bool, half);
        PortStandIn port;
        FakeDriverPort modemLines;  // the motor's line goes through the installed backend
        std::string error;
        const auto pty = bridge::PseudoTerminal::Open(error);
        QVERIFY2(pty, error.c_str());
        const int terminal = open(pty->Path().c_str(), O_RDWR | O_NOCTTY);
        termios2 terminalSettings{};
        ioctl(terminal, TCGETS2, &terminalSettings);
        if (echo) {
            terminalSettings.c_lflag |= ECHO;
            ioctl(terminal, TCSETS2, &terminalSettings);
        }
        char said[256] = {};
        std::FILE* notices = fmemopen(said, sizeof said - 1, "w");
        auto status = std::make_unique<os::StatusOutput>(notices);
        int stopPipe[2];
        QVERIFY(pipe(stopPipe) == 0);
        bridge::PumpSetup setup;
        setup.port = port.port;
        setup.terminal = pty->Fd();
        setup.stop = stopPipe[0];
        setup.notices = status.get();
        setup.breaksMarked = true;
        setup.halfDuplex = half;
        setup.driver = modemLines.driver;
        if (motorWaits) {
            setup.motor = uart::kMcrRts;
            setup.motorStart = 60;
        }
        bridge::Counts counts;
        bridge::Ending ended{};
        const TimeLimit limit(10);
        // Typed before the loop starts, and all read by it before anything comes from the line.
        QCOMPARE(write(terminal, typed.data(), typed.size()), ssize_t(typed.size()));
        pollfd arrived{pty->Fd(), POLLIN, 0};
        QCOMPARE(poll(&arrived, 1, typed.isEmpty() ? 0 : 1000), typed.isEmpty() ? 0 : 1);
        std::thread loop([&] { ended = bridge::RunPump(setup, counts); });
        for (int unread = 1; unread > 0 && ioctl(pty->Fd(), FIONREAD, &unread) == 0;)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));

        const QByteArray expected = QByteArray::fromHex(codesSent);
        QCOMPARE(ReadSome(port.teleprinter, int(expected.size())).toHex(' '), expected.toHex(' '));
        const QByteArray received = QByteArray::fromHex(codesReceived);
        QCOMPARE(write(port.teleprinter, received.data(), received.size()),
                 ssize_t(received.size()));
        QCOMPARE(ReadSome(terminal, int(printed.size())), printed);
        if (echo) {
            QCOMPARE(ReadSome(port.teleprinter, 1), QByteArray());  // nothing came back
            ioctl(terminal, TCGETS2, &terminalSettings);
            QCOMPARE(terminalSettings.c_lflag & ECHO, tcflag_t(0));
        }
        if (stop != 0) {
            const auto number = static_cast<unsigned char>(stop);
            QCOMPARE(write(stopPipe[1], &number, 1), ssize_t(1));
        } else {
            close(port.teleprinter);
            port.teleprinter = -1;
        }
        loop.join();
        if (motorWaits)
            QCOMPARE(ReadSome(port.teleprinter, 1), QByteArray());
        QCOMPARE(int(ended), ending);
        QCOMPARE(counts.dropped, std::size_t(typed.count('\x1B')));
        QCOMPARE(counts.sent, std::size_t(typed.size() - thrown) - counts.dropped);
        QCOMPARE(counts.thrownAway, std::size_t(thrown));
        QCOMPARE(counts.received, std::size_t(printed.size()));
        status.reset();
        std::fclose(notices);
        QCOMPARE(QByteArray(said).count("turned echo on"), echo ? 1 : 0);
        QCOMPARE(QByteArray(said).count("break from the line: " + QByteArray::number(thrown) +
                                        " characters thrown away"),
                 codesReceived.contains("FF") ? 1 : 0);
        close(terminal);
        close(stopPipe[0]);
        close(stopPipe[1]);
    }

    // The motor on RTS: dropped at the start, raised before the first code, which waits for it
    // to come up to speed, dropped after the idle time, and dropped however the bridge ends.
    void motorRunsWhileThereIsText_data() {
        QTest::addColumn<int>("stop");
        QTest::newRow("Ctrl+C") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void motorRunsWhileThereIsText() {
        QFETCH(int, stop);
        using Clock = std::chrono::steady_clock;
        PortStandIn port, terminal;  // the second as the pseudo-terminal, typed into at its far end
        int stopPipe[2];
        QVERIFY(pipe(stopPipe) == 0);
        FakeDriverPort modemLines;
        FakeSerialDriver& lines = *modemLines.driver;
        lines.lines = TIOCM_DTR | TIOCM_RTS;  // as the open leaves them
        bridge::PumpSetup setup;
        setup.port = port.port;
        setup.terminal = terminal.teleprinter;
        setup.stop = stopPipe[0];
        setup.motor = uart::kMcrRts;
        setup.motorStart = 0.3;
        setup.motorIdle = 0.4;
        setup.driver = &lines;
        bridge::Counts counts;
        const TimeLimit limit(10);
        std::thread loop([&] { bridge::RunPump(setup, counts); });
        const auto typed = Clock::now();
        QCOMPARE(write(terminal.port, "E", 1), ssize_t(1));
        QCOMPARE(ReadSome(port.teleprinter, 1), QByteArray("\x01"));
        const auto sent = Clock::now();
        QVERIFY(sent - typed >= std::chrono::milliseconds(300));       // the motor's start
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // well past its idle time
        QCOMPARE(write(terminal.port, "E", 1), ssize_t(1));  // up again, and the end comes
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto signal = static_cast<unsigned char>(stop);
        QCOMPARE(write(stopPipe[1], &signal, 1), ssize_t(1));
        loop.join();
        QStringList switched;  // the line's changes, without the reads before them
        QList<qint64> at;
        for (qsizetype i = 0; i < lines.calls.size(); ++i) {
            if (lines.calls[i].startsWith("TIOCMBI")) {
                switched << lines.calls[i];
                at << lines.callTimes[i];
            }
        }
        const QString up = "TIOCMBIS 0x4", down = "TIOCMBIC 0x4";
        QCOMPARE(switched, (QStringList{down, up, down, up, down}));
        const auto idle =
            at[2] -
            std::chrono::duration_cast<std::chrono::milliseconds>(sent.time_since_epoch()).count();
        QVERIFY2(idle >= 350 && idle < 1150, qPrintable(QString::number(idle)));
        close(stopPipe[0]);
        close(stopPipe[1]);
    }

    // The motor on a clock of the test's own: the start that codes wait for, then the quiet time
    // after which it stops, unless the driver still holds codes; a switch refused is said once.
    void motorFollowsItsClock_data() {
        // ms after the code went out; "+N": N codes held; "^": another open raised the line
        QTest::addColumn<QString>("looks");
        QTest::addColumn<QString>("motor");  // its line after each look
        QTest::addColumn<bool>("refused");   // the driver refuses to drop the line
        QTest::addColumn<bool>("pattern");   // a test pattern: not stopped before the first code
        QTest::newRow("stopped once its idle time is over, not before")
            << "399 400"
            << "on off" << false << false;
        QTest::newRow("kept running while the driver holds codes") << "400+3 799 800"
                                                                   << "on on off" << false << false;
        QTest::newRow("a drop the driver refuses is said once") << "400"
                                                                << "on" << true << false;
        QTest::newRow("a test pattern's first code waits for the start too")
            << "400"
            << "off" << false << true;
        QTest::newRow("stopped: raised by another open, dropped at the next look a second on")
            << "400 900^ 1399 1400"
            << "off on on off" << false << false;
    }
    void motorFollowsItsClock() {
        QFETCH(QString, looks);
        QFETCH(QString, motor);
        QFETCH(bool, refused);
        QFETCH(bool, pattern);
        using namespace std::chrono_literals;
        FakeDriverPort modemLines;
        FakeSerialDriver& driver = *modemLines.driver;
        driver.lines = TIOCM_DTR | TIOCM_RTS;  // as the open leaves them
        driver.dropError = refused ? EPERM : 0;
        const QString said = Capture([&](std::FILE* stream) {
            os::StatusOutput notices(stream);
            bridge::PumpSetup setup;
            setup.motor = uart::kMcrRts;
            setup.motorStart = 0.3;
            setup.motorIdle = 0.4;
            setup.driver = &driver;
            setup.notices = &notices;
            bridge::Clock::time_point now{1h};
            bridge::Motor m(setup, [&] { return now; });
            if (!pattern)
                m.Stop();  // nothing to send at the start
            const auto typed = now;
            m.Start();
            QVERIFY(m.NextLook(true) == typed + 300ms);
            now += 299ms;
            QVERIFY(!m.UpToSpeed());
            now += 1ms;
            QVERIFY(m.UpToSpeed());
            m.KeepRunning();  // the code went out
            const auto sent = now;
            QVERIFY(m.NextLook(false) == sent + 400ms);
            QStringList states;
            for (const QString& look : looks.split(' ')) {
                now = sent + std::chrono::milliseconds(look.section('+', 0, 0).remove('^').toInt());
                driver.queued = look.section('+', 1).toInt();
                if (look.endsWith('^'))
                    driver.lines |= TIOCM_RTS;
                m.StopIfIdle();
                states << ((driver.lines & TIOCM_RTS) != 0 ? "on" : "off");
            }
            QCOMPARE(states.join(' '), motor);
        });
        QCOMPARE(said.count("quorlix: the motor's RTS could not be dropped: the driver refused"),
                 refused ? 1 : 0);
    }

    // What the port cannot do is said at the bridge's start, and not claimed: a USB adapter
    // whose driver reports no break from the line (the BREAK key will not stop the bridge), a
    // driver that cannot switch the modem lines (the motor is not run), a Raspberry Pi's UART,
    // whose header has no DTR pin.
    void startSaysWhatCannotBeDone_data() {
        // driver, vendor, product, release, product string; or "uart-pl011" on a Pi, its motor
        // on DTR
        QTest::addColumn<QString>("adapter");
        QTest::addColumn<bool>("noModemLines");  // it cannot switch them; a motor on RTS
        QTest::addColumn<QByteArray>("note");
        QTest::newRow("CH340") << "ch341-uart 1a86 7523 0254 USB Serial" << false
                               << QByteArray(
                                      "note: the CH340's driver reports no break from the "
                                      "line: the BREAK key will not stop the bridge");
        QTest::newRow("PL2303, which reports breaks")
            << "pl2303 067b 2303 0300 USB-Serial Controller" << false << QByteArray();
        QTest::newRow("a driver that cannot switch the modem lines: no motor on RTS")
            << "pl2303 067b 2303 0300 USB-Serial Controller" << true
            << QByteArray(
                   "note: the motor's RTS cannot be switched: the driver refused the "
                   "modem lines (Inappropriate ioctl for device); the bridge runs without it");
        QTest::newRow("PL011 with the motor on DTR")
            << "uart-pl011" << false
            << QByteArray(
                   "note: the motor's DTR may switch nothing: the Raspberry Pi's header has "
                   "no DTR pin, and RTS reaches one only through an overlay");
    }
    void startSaysWhatCannotBeDone() {
        QFETCH(QString, adapter);
        QFETCH(bool, noModemLines);
        QFETCH(QByteArray, note);
        PortStandIn port;
        auto driver = std::make_unique<FakeSerialDriver>();
        driver->descriptor = port.port;
        driver->lines = TIOCM_DTR | TIOCM_RTS;  // as the open leaves them
        driver->dropError = noModemLines ? ENOTTY : 0;
        const QStringList words = adapter.split(' ');
        FakeSysfs sysfs;
        if (words.size() > 1) {
            sysfs.AddUsbPort(makedev(188, 0), words[0], words[1], words[2], words[3],
                             words.mid(4).join(' '));
        } else {
            sysfs.AddPort(makedev(188, 0), words[0]);
            sysfs.SetMachine("Raspberry Pi 4 Model B Rev 1.4");
        }
        const std::optional<usb::Adapter> found =
            usb::IdentifyAdapter(makedev(188, 0), sysfs.Root());
        QVERIFY(found);
        const QTemporaryDir locks;
        bridge::Settings settings;
        settings.device = "/dev/ttyUSB0";
        std::string error;
        QVERIFY(line::ParseApply(bridge::kDefaultLine, settings.line, error));
        settings.line.portStaysOpen = true;
        settings.line.lockFolder = locks.path().toStdString();
        settings.motor = !found->usb ? uart::kMcrDtr : noModemLines ? uart::kMcrRts : 0;
        auto terminal = bridge::TerminalSide::Open(settings, error);
        QVERIFY2(terminal, error.c_str());
        int output[2];
        QVERIFY(pipe(output) == 0);
        std::FILE* out = fdopen(output[1], "w");
        std::FILE* err = std::tmpfile();
        const TimeLimit limit(10);
        std::thread bridge([&] {
            bridge::Run(settings, std::move(terminal), std::move(driver), {}, out, err,
                        usb::ChipOf(*found));
            std::fclose(out);
        });
        // Once the bridge runs, its port goes away.
        QByteArray text, more;
        while (!text.contains("ends it\n") && !(more = ReadSome(output[0], 1)).isEmpty())
            text += more;
        close(std::exchange(port.teleprinter, -1));
        bridge.join();
        text += ReadSome(output[0], 1 << 16);
        QVERIFY(text.contains("ends it\n"));
        QByteArrayList said;
        for (const QByteArray& line : text.split('\n')) {
            if (line.startsWith("note: the motor's") || line.contains("BREAK"))
                said << line;
        }
        QCOMPARE(said.join('|'), note);
        std::fclose(err);
        close(output[0]);
    }

    // A bridge that does not start leaves the port's settings as it found them: the lock is
    // taken before the first change, and what a refused line changed is put back.
    void bridgeThatDoesNotStartLeavesThePort_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("held");  // a hold of the same UART runs
        QTest::addColumn<QString>("says");
        QTest::newRow("a hold runs: refused before any change")
            << bridge::kDefaultLine << true << "is already held by process";
        QTest::newRow("a line the driver will not take: put back")
            << "45.45,5M1.5" << false << "the driver ignored mark/space parity";
    }
    void bridgeThatDoesNotStartLeavesThePort() {
        QFETCH(QString, line);
        QFETCH(bool, held);
        QFETCH(QString, says);
        PortStandIn port;
        auto driver = std::make_unique<FakeSerialDriver>();
        FakeSerialDriver closed;
        driver->closedInto = &closed;
        driver->descriptor = port.port;
        driver->serial.port = 0x2F8;  // the UART's address: the lock's name
        driver->dropsMarkSpace = true;
        const termios2 found = driver->termios;
        const QTemporaryDir locks;
        bridge::Settings settings;
        settings.device = "/dev/ttyS1";
        std::string error;
        QVERIFY(line::ParseApply(line.toStdString(), settings.line, error));
        settings.line.portStaysOpen = true;
        settings.line.lockFolder = locks.path().toStdString();
        uart::RecordingPortIo other;
        std::string refusal, notice;
        const auto hold =
            held ? line::HoldLock::Take(other, 0x2F8, refusal, notice, settings.line.lockFolder)
                 : nullptr;
        auto terminal = bridge::TerminalSide::Open(settings, error);
        QVERIFY2(terminal, error.c_str());
        const TimeLimit limit(10);  // a bridge that starts runs until then
        int status = 0;
        const QString err = Capture([&](std::FILE* errors) {
            Capture([&](std::FILE* output) {
                status = bridge::Run(settings, std::move(terminal), std::move(driver), {}, output,
                                     errors);
            });
        });
        QCOMPARE(status, 1);
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY(std::memcmp(&closed.termios, &found, sizeof found) == 0);
        QCOMPARE(closed.calls.contains("TCSETS2"), !held);
    }

    // Text piled up behind a port that takes nothing more: however the bridge ends, only what
    // left counts as sent and what it still held as thrown away; Ctrl+C also flushes the port,
    // which the stand-in in packet mode reports, and so does a second signal while SIGTERM waits
    // for a driver that holds codes.
    void endingCountsOnlyWhatLeft_data() {
        QTest::addColumn<int>("stop");    // a signal, or 0: the terminal side hangs up
        QTest::addColumn<int>("second");  // a second signal at once, to a driver holding codes
        QTest::addColumn<int>("ending");
        QTest::addColumn<bool>("flushed");
        QTest::newRow("Ctrl+C flushes the port")
            << SIGINT << 0 << int(bridge::Ending::Interrupted) << true;
        QTest::newRow("SIGTERM leaves the port what it has")
            << SIGTERM << 0 << int(bridge::Ending::Terminated) << false;
        QTest::newRow("Ctrl+C while SIGTERM waits for the driver flushes it and ends at once")
            << SIGTERM << SIGINT << int(bridge::Ending::Interrupted) << true;
        QTest::newRow("a terminal side that hangs up ends the bridge")
            << 0 << 0 << int(bridge::Ending::TerminalGone) << false;
    }
    void endingCountsOnlyWhatLeft() {
        QFETCH(int, stop);
        QFETCH(int, second);
        QFETCH(int, ending);
        QFETCH(bool, flushed);
        PortStandIn port, terminal;  // the second as the pseudo-terminal, typed into at its far end
        int on = 1;
        QVERIFY(ioctl(port.teleprinter, TIOCPKT, &on) == 0);
        fcntl(terminal.teleprinter, F_SETFL, O_NONBLOCK);
        int stopPipe[2];
        QVERIFY(pipe(stopPipe) == 0);
        bridge::PumpSetup setup;
        setup.port = port.port;
        setup.terminal = terminal.teleprinter;
        setup.stop = stopPipe[0];
        FakeSerialDriver holding;  // 100 codes for ever: 22 s of waiting, were it not cut short
        holding.queued = 100;
        if (second != 0)
            setup.driver = &holding;
        bridge::Counts counts;
        bridge::Ending ended{};
        const TimeLimit limit(20);
        std::thread loop([&] { ended = bridge::RunPump(setup, counts); });

        // R after R, one code each. Once some have reached the teleprinter, the port stops
        // taking any (as an XOFF stops it): from then on the bridge holds what it read last,
        // and the terminal side fills up behind it until it takes nothing either. Waiting for
        // full buffers instead would be a guess at how fast the bridge moves text on.
        const QByteArray text(4096, 'R');
        std::size_t typed =
            std::size_t(std::max(write(terminal.port, text.data(), text.size()), ssize_t(0)));
        pollfd reached{port.teleprinter, POLLIN, 0};
        // Checked once the loop has ended: a return before its join would abort the program.
        const bool stopped = poll(&reached, 1, 5000) == 1 && ioctl(port.port, TCXONC, TCOOFF) == 0;
        for (pollfd room{terminal.port, POLLOUT, 0}; typed < 1 << 24 && poll(&room, 1, 300) > 0;)
            typed +=
                std::size_t(std::max(write(terminal.port, text.data(), text.size()), ssize_t(0)));
        const unsigned char stops[] = {static_cast<unsigned char>(stop),
                                       static_cast<unsigned char>(second)};
        if (stop != 0)
            QCOMPARE(write(stopPipe[1], stops, second != 0 ? 2 : 1), ssize_t(second != 0 ? 2 : 1));
        else
            close(std::exchange(terminal.port, -1));
        loop.join();
        // The teleprinter's side: data after a zero byte, or a status byte alone.
        std::size_t arrived = 0;
        int status = 0;
        char packet[4096];
        for (pollfd more{port.teleprinter, POLLIN, 0}; poll(&more, 1, 300) > 0;) {
            const ssize_t size = read(port.teleprinter, packet, sizeof packet);
            if (size <= 0)
                break;
            if (packet[0] == TIOCPKT_DATA)
                arrived += std::size_t(size - 1);
            else
                status |= packet[0];
        }
        QVERIFY2(stopped, "no text reached the port, or it could not be stopped");
        QCOMPARE(int(ended), ending);
        QCOMPARE((status & TIOCPKT_FLUSHWRITE) != 0, flushed);
        const QString tally = QStringLiteral("%1 typed, %2 sent, %3 thrown away, %4 arrived")
                                  .arg(typed)
                                  .arg(counts.sent)
                                  .arg(counts.thrownAway)
                                  .arg(arrived);
        QVERIFY2(counts.thrownAway > 0, qPrintable(tally));
        QVERIFY2(counts.sent + counts.thrownAway <= typed, qPrintable(tally));
        // A pty's flush also drops what it held for the far side, which its TIOCOUTQ (always 0)
        // does not show: only there may fewer codes arrive than were counted. The codes the
        // stand-in driver says it holds, counted as thrown away, are no more than its word: the
        // stopped pty may have passed them on before.
        const auto claimed = static_cast<std::size_t>(second != 0 ? holding.queued : 0);
        if (flushed)
            QVERIFY2(arrived <= counts.sent + claimed, qPrintable(tally));
        else
            QCOMPARE(counts.sent, arrived);
        close(stopPipe[0]);
        close(stopPipe[1]);
    }
    // --spool: a job goes out whole between typed lines, and typing waits for it; a BREAK at the
    // machine throws the job away and the next one prints. Each row is a script: type TEXT, drop
    // NAME TEXT (written under a dot-name, then renamed in), codes HEX (what reaches the
    // teleprinter next), quiet (nothing within 300 ms), hold and empty (the driver claims codes
    // it has not sent, then none), break, gone NAME and there NAME (the spool's folder).
    void spoolNeverInterleavesWithTyping_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("says");
        QTest::newRow("a job dropped while a line is typed prints after its line end")
            << QStringList{"type AB", "codes 03 19", "drop j X\n",
                           "quiet",   "type C\r",    "codes 0E 08 1F 1F 02 1D 08 1F 1F 02",
                           "gone j"}
            << "quorlix: spool: j printed";
        QTest::newRow("typed text waits until the job has left the line; its name shown safe")
            << QStringList{"hold",   "drop j\x1B X\n", "codes 1D 08 1F 1F 02",
                           "type Y", "quiet",          "there j\x1B",
                           "empty",  "codes 15",       "gone j\x1B"}
            << "quorlix: spool: printing j\\x1B (2 characters)";
        QTest::newRow("a BREAK throws the job away, says which, and the next prints")
            << QStringList{"hold",       "drop a X\n", "codes 1D 08 1F 1F 02",
                           "drop b Y\n", "break",      "gone a",
                           "there b",    "empty",      "codes 15 08 1F 1F 02",
                           "gone b"}
            << "break from the line: the spool's job a thrown away after";
    }
    void spoolNeverInterleavesWithTyping() {
        QFETCH(QStringList, steps);
        QFETCH(QString, says);
        const QTemporaryDir folder;
        std::string error;
        const auto spool = bridge::Spool::Open(folder.path().toStdString(), error);
        QVERIFY2(spool, error.c_str());
        PortStandIn port, terminal;  // the second as the pseudo-terminal, typed into at its far end
        int stopPipe[2];
        QVERIFY(pipe(stopPipe) == 0);
        FakeSerialDriver driver;
        char said[1024] = {};
        std::FILE* notices = fmemopen(said, sizeof said - 1, "w");
        auto status = std::make_unique<os::StatusOutput>(notices);
        bridge::PumpSetup setup;
        setup.port = port.port;
        setup.terminal = terminal.port;
        setup.stop = stopPipe[0];
        setup.spool = spool.get();
        setup.driver = &driver;
        setup.breaksMarked = true;
        setup.notices = status.get();
        bridge::Counts counts;
        const TimeLimit limit(20);
        std::thread loop([&] { bridge::RunPump(setup, counts); });
        for (const QString& step : steps) {
            const QString word = step.section(' ', 0, 0), rest = step.section(' ', 1);
            if (word == "type") {
                QCOMPARE(write(terminal.teleprinter, rest.toLatin1().data(), rest.size()),
                         ssize_t(rest.size()));
            } else if (word == "drop") {
                const QString name = rest.section(' ', 0, 0), text = rest.section(' ', 1);
                QFile file(folder.filePath("." + name));
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toLatin1()) > 0);
                file.close();
                QVERIFY(QFile::rename(file.fileName(), folder.filePath(name)));
            } else if (word == "codes") {
                const QByteArray codes = QByteArray::fromHex(rest.toLatin1());
                QCOMPARE(ReadSome(port.teleprinter, int(codes.size())).toHex(' '),
                         codes.toHex(' '));
            } else if (word == "quiet") {
                pollfd arrived{port.teleprinter, POLLIN, 0};
                QCOMPARE(poll(&arrived, 1, 300), 0);
            } else if (word == "hold" || word == "empty") {
                driver.queued = word == "hold" ? 3 : 0;
            } else if (word == "break") {
                QCOMPARE(write(port.teleprinter, "\xFF\0\0", 3), ssize_t(3));
            } else {
                for (int tries = 0;
                     QFile::exists(folder.filePath(rest)) != (word == "there") && tries < 100;
                     ++tries)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                QVERIFY2(QFile::exists(folder.filePath(rest)) == (word == "there"),
                         qPrintable(step));
            }
        }
        driver.queued = 0;
        const unsigned char stop = SIGTERM;
        QCOMPARE(write(stopPipe[1], &stop, 1), ssize_t(1));
        loop.join();
        status.reset();
        std::fclose(notices);
        QVERIFY2(QByteArray(said).contains(says.toUtf8()), said);
        close(stopPipe[0]);
        close(stopPipe[1]);
    }

    // quorlix --print: the job goes out through the bridge's encoder, and the run ends only once
    // it has left the line (the driver's queue reads empty and its transmitter says so), or as
    // the machine's operator, a stop signal, the port or a holder of the line ends it. The
    // driver claims its 3 codes until the end: the line end's, so 2 of 3 characters left when
    // they are thrown away.
    void printEndsAsTheJobDoes_data() {
        QTest::addColumn<QString>("end");  // what the teleprinter's side does once codes came
        QTest::addColumn<bool>("held");    // a hold of the line runs, let go once it is said
        QTest::addColumn<bool>("wait");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("printed once the driver's queue reads empty, not before")
            << "empty" << false << false << 0 << "print: 3 of 3 characters sent";
        QTest::newRow("Ctrl+C throws away what the driver holds: 130")
            << "SIGINT" << false << false << 130 << "print: 2 of 3 characters sent";
        QTest::newRow("a BREAK at the machine: 1, and how far the job came")
            << "break" << false << false << 1
            << "stopped by a BREAK at the machine after 2 of 3 characters";
        QTest::newRow("the port going away: 1")
            << "gone" << false << false << 1 << "went away (unplugged?) after";
        QTest::newRow("a hold has the line: refused, naming it")
            << "" << true << false << 1 << "is already held by process";
        QTest::newRow("--wait: printed once the hold lets go")
            << "empty" << true << true << 0 << "waiting until it lets go";
    }
    void printEndsAsTheJobDoes() {
        QFETCH(QString, end);
        QFETCH(bool, held);
        QFETCH(bool, wait);
        QFETCH(int, status);
        QFETCH(QString, says);
        PortStandIn port;
        auto owned = std::make_unique<FakeSerialDriver>();
        FakeSerialDriver* driver = owned.get();
        driver->descriptor = port.port;
        driver->serial.port = 0x2F8;   // the UART's address: the lock's name
        driver->transmitterError = 0;  // an 8250's: it tells when the transmitter is empty
        driver->queued = 3;            // until the test empties it
        const QTemporaryDir locks;
        bridge::Settings settings;
        settings.device = "/dev/ttyS1";
        settings.wait = wait;
        settings.columns = 0;
        std::string error;
        QVERIFY(line::ParseApply(bridge::kDefaultLine, settings.line, error));
        settings.line.portStaysOpen = true;
        settings.line.lockFolder = locks.path().toStdString();
        uart::RecordingPortIo other;
        std::string refusal, notice;
        auto hold =
            held ? line::HoldLock::Take(other, 0x2F8, refusal, notice, settings.line.lockFolder)
                 : nullptr;
        const std::string job = "RY\n";
        std::FILE* err = std::tmpfile();
        std::FILE* out = std::tmpfile();
        const auto said = [&](std::FILE* file) {
            char text[1024] = {};
            return QByteArray(
                text, int(std::max<ssize_t>(pread(fileno(file), text, sizeof text - 1, 0), 0)));
        };
        const TimeLimit limit(20);
        std::atomic<bool> ended = false;
        int printed = -1;
        std::thread run([&] {
            printed = bridge::Print(settings, job, std::move(owned), {}, out, err);
            ended = true;
        });
        if (wait) {
            while (!said(err).contains("waiting until it lets go") && !ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            hold.reset();
        }
        // R Y, then CR, two fill codes and LF.
        const QByteArray codes = QByteArray::fromHex("0A 15 08 1F 1F 02");
        if (!end.isEmpty())
            QCOMPARE(ReadSome(port.teleprinter, int(codes.size())).toHex(' '), codes.toHex(' '));
        if (end == "empty") {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            QVERIFY2(!ended, "ended while the driver still held codes");
            driver->queued = 0;
        } else if (end == "SIGINT") {
            kill(getpid(), SIGINT);
        } else if (end == "break") {
            QCOMPARE(write(port.teleprinter, "\xFF\0\0", 3), ssize_t(3));
        } else if (end == "gone") {
            close(std::exchange(port.teleprinter, -1));
        }
        run.join();
        std::fflush(err);
        std::fflush(out);
        QCOMPARE(printed, status);
        QVERIFY2((said(err) + said(out)).contains(says.toUtf8()), said(err) + said(out));
        std::fclose(err);
        std::fclose(out);
    }

    // The spool hands out whole jobs in the byte order of their names, and says once what it
    // will not print. Steps: "a=x" writes a and closes it (a name already there a tick later,
    // as any rewrite would be); "a+x" writes x to a, which stays open, until "close"; "l->t"
    // is a symbolic link; "|p" a FIFO; "a>b" a rename; "-a" a removal; "open" starts the spool;
    // "next" takes inotify's news and logs the next job ("stale" before that news is taken),
    // "remove" removes it, "ls" lists.
    void spoolTakesWholeJobsInNameOrder_data() {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("log");  // jobs as "name:text", said lines, listings
        QTest::newRow("jobs there at the start, in byte order")
            << "a=1; B=2; b=3; open; next; remove; next; remove; next; remove; next; ls"
            << "B:2 | a:1 | b:3 | none | {}";
        QTest::newRow("a .-file waits unsaid, and is a job once moved to a plain name")
            << "open; .n=x; next; .n>n; next"
            << "none | n:x";
        QTest::newRow("a file removed before it is read is no job, and nothing is said")
            << "a=1; open; -a; stale; next"
            << "none | none";
        QTest::newRow("a symbolic link is said once and left, its target unread")
            << "open; l->../secret; next; next; ls"
            << "quorlix: spool: l is a symbolic link: not printed, left as it is | none | none | "
               "{l}";
        QTest::newRow("a file created and still open is ready once closed")
            << "open; c+half; next; c+ whole; close; next"
            << "none | c:half whole";
        QTest::newRow("a file larger than a job may be is refused")
            << "open; big=16MiB and 1; next; ls"
            << "quorlix: spool: big is larger than 16 MiB: not printed, left as it is | none | "
               "{big}";
        QTest::newRow("a FIFO is refused without waiting for a writer")
            << "|p; open; next; next"
            << "quorlix: spool: p is a FIFO: not printed, left as it is | none | none";
        QTest::newRow("a file replaced after it was read is left, to be printed")
            << "r=old; open; next; .r=new; .r>r; remove; next; remove; ls"
            << "r:old | quorlix: spool: r was replaced while it printed: the new one stays, to be "
               "printed | r:new | {}";
        QTest::newRow("a file written again in place after it was read is left, to be printed")
            << "r=old; open; next; r=new; remove; next; remove; ls"
            << "r:old | quorlix: spool: r was written again while it printed: it stays, to be "
               "printed | r:new | {}";
    }
    void spoolTakesWholeJobsInNameOrder() {
        QFETCH(QString, steps);
        QFETCH(QString, log);
        const QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("spool"));
        QFile secret(dir.filePath("secret"));
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("SECRET") == 6);
        secret.close();
        // Reached through a link, as a user may name it: what is inside is never followed.
        QVERIFY(QFile::link("spool", dir.filePath("link")));
        const QDir folder(dir.filePath("spool"));
        const auto at = [&](const QString& name) { return folder.filePath(name).toLocal8Bit(); };
        const TimeLimit limit(10);
        std::unique_ptr<bridge::Spool> spool;
        std::optional<bridge::SpoolJob> job;
        QStringList logged;
        int held = -1;
        for (const QString& step : steps.split("; ")) {
            const QString name = step.section(QRegularExpression("[=+>]|->"), 0, 0);
            const QByteArray text = step.section(QRegularExpression("[=+]"), 1, -1).toLocal8Bit();
            if (step == "open") {
                std::string error;
                spool = bridge::Spool::Open(dir.filePath("link").toStdString(), error);
                QVERIFY2(spool, error.c_str());
            } else if (step == "next" || step == "stale") {
                if (step == "next")
                    spool->Take();
                job = spool->Next([&](const std::string& line) { logged << line.c_str(); });
                logged << (job ? QString::fromStdString(job->name + ":" + job->text) : "none");
            } else if (step == "remove") {
                const std::string said = spool->Remove(*job);
                if (!said.empty())
                    logged << said.c_str();
            } else if (step == "ls") {
                logged << "{" +
                              folder
                                  .entryList(QDir::AllEntries | QDir::System |
                                             QDir::NoDotAndDotDot | QDir::Hidden)
                                  .join(' ') +
                              "}";
            } else if (step == "close") {
                close(std::exchange(held, -1));
            } else if (step.contains("->")) {
                QVERIFY(symlink(step.section("->", 1).toLocal8Bit(), at(name)) == 0);
            } else if (step.startsWith('|')) {
                QVERIFY(mkfifo(at(step.mid(1)), 0600) == 0);
            } else if (step.startsWith('-')) {
                QVERIFY(unlink(at(step.mid(1))) == 0);
            } else if (step.contains('>')) {
                QVERIFY(rename(at(name), at(step.section('>', 1))) == 0);
            } else {
                if (step.contains('=') && QFile::exists(folder.filePath(name)))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const int fd = held >= 0
                                   ? held
                                   : open(at(name), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (text == "16MiB and 1")
                    QVERIFY(ftruncate(fd, off_t(bridge::kLargestJob) + 1) == 0);
                else
                    QCOMPARE(write(fd, text.data(), std::size_t(text.size())),
                             ssize_t(text.size()));
                if (step.contains('+'))
                    held = fd;
                else
                    close(fd);
            }
        }
        QCOMPARE(logged.join(" | "), log);
    }
};

QTEST_GUILESS_MAIN(BaudotBridge)
#include "baudot_bridge.moc"
