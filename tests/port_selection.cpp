// SPDX-License-Identifier: GPL-3.0-or-later
// Which UART the command line selects, how it is announced, and how start-up forms the line
// it is scanned from.
#include <QTest>

#include "app/Options.h"
#include "uart/PortSelection.h"

using namespace uart;

class PortSelection : public QObject {
    Q_OBJECT

  private slots:
    void scanPicksTheTableEntry_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<int>("base");
        QTest::newRow("no argument") << "quorlix" << 0x2F8;
        QTest::newRow("empty line") << "" << 0x2F8;
        QTest::newRow("blanks only") << "   " << 0x2F8;
        QTest::newRow("1") << "quorlix 1" << 0x3F8;
        QTest::newRow("2") << "quorlix 2" << 0x2F8;
        QTest::newRow("3") << "quorlix 3" << 0x3E8;
        QTest::newRow("4 is the About box's 0x3E0") << "quorlix 4" << 0x3E0;
        QTest::newRow("5") << "quorlix 5" << 0x2F0;
        QTest::newRow("6") << "quorlix 6" << 0x2E8;
        QTest::newRow("7") << "quorlix 7" << 0x2E0;
        QTest::newRow("8") << "quorlix 8" << 0x260;
        QTest::newRow("0") << "quorlix 0" << 0x2F8;
        QTest::newRow("9") << "quorlix 9" << 0x2F8;
        QTest::newRow("-1") << "quorlix -1" << 0x2F8;
        QTest::newRow("x") << "quorlix x" << 0x2F8;
        QTest::newRow("3a reads as 3") << "quorlix 3a" << 0x3E8;
        QTest::newRow("+3 reads as 3") << "quorlix +3" << 0x3E8;
        QTest::newRow("03 reads as 3") << "quorlix 03" << 0x3E8;
        QTest::newRow("x 1: only the first argument counts") << "quorlix x 1" << 0x2F8;
        QTest::newRow("tabs separate tokens") << "quorlix\t\t7" << 0x2E0;
        QTest::newRow("tokens after the second are ignored") << "quorlix 6 1 2" << 0x2E8;
        QTest::newRow("blank in the path: fragment 2001 is not 1..8")
            << "C:\\Program Files\\2001 Tools\\quorlix.exe 1" << 0x2F8;
        QTest::newRow("blank in the path: fragment 5 selects 0x2F0")
            << "/opt/Quorlix 5x/quorlix 1" << 0x2F0;
        QTest::newRow("overflowing number is not a digit")
            << "quorlix 99999999999999999999" << 0x2F8;
        QTest::newRow("overflow that wraps to 1 as an int is still out of range")
            << "quorlix 4294967297" << 0x2F8;
    }
    void scanPicksTheTableEntry() {
        QFETCH(QString, commandLine);
        QFETCH(int, base);
        QCOMPARE(SelectPortFromCommandLine(commandLine.toLatin1().constData()), base);
    }

    void overlongTokensNeverOverflowTheBuffers_data() {
        QTest::addColumn<QByteArray>("commandLine");
        QTest::addColumn<int>("base");
        const QByteArray longPath(300, 'a');
        QTest::newRow("255-character program name still scans")
            << QByteArray(255, 'p') + " 1" << 0x3F8;
        QTest::newRow("a longer program name fails the scan, its tail is no argument")
            << longPath + "3 1" << 0x2F8;
        QTest::newRow("a longer argument fails the scan")
            << "quorlix 3" + QByteArray(400, '0') << 0x2F8;
        QTest::newRow("a 255-character argument is read")
            << "quorlix 8" + QByteArray(254, 'z') << 0x260;
    }
    void overlongTokensNeverOverflowTheBuffers() {
        QFETCH(QByteArray, commandLine);
        QFETCH(int, base);
        QCOMPARE(SelectPortFromCommandLine(commandLine.constData()), base);
    }

    void announcementIsUpperCaseHex_data() {
        QTest::addColumn<int>("base");
        QTest::addColumn<QString>("text");
        QTest::newRow("0x2F8") << 0x2F8 << "Port - 0x2F8";
        QTest::newRow("0x3F8") << 0x3F8 << "Port - 0x3F8";
        QTest::newRow("0x260") << 0x260 << "Port - 0x260";
        QTest::newRow("no leading zeros") << 0x60 << "Port - 0x60";
    }
    void announcementIsUpperCaseHex() {
        QFETCH(int, base);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(PortAnnouncement(base)), text);
    }

    void startupFormsTheScannedLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("toolkit");
        QTest::addColumn<bool>("simulate");
        QTest::addColumn<bool>("trace");
        QTest::newRow("nothing") << QStringList{} << "quorlix" << QStringList{} << false << false;
        QTest::newRow("our options are taken out") << QStringList{"--simulate", "--trace", "2"}
                                                   << "quorlix 2" << QStringList{} << true << true;
        QTest::newRow("Qt's options and their values are taken out")
            << QStringList{"-platform", "offscreen", "3", "-style=Fusion", "--reverse"}
            << "quorlix 3" << QStringList{"-platform", "offscreen", "-style=Fusion", "--reverse"}
            << false << false;
        QTest::newRow("a negative digit stays for the scan")
            << QStringList{"-1"} << "quorlix -1" << QStringList{} << false << false;
        QTest::newRow("every other argument stays, in order")
            << QStringList{"6", "--trace", "x"} << "quorlix 6 x" << QStringList{} << false << true;
    }
    void startupFormsTheScannedLine() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, line);
        QFETCH(QStringList, toolkit);
        QFETCH(bool, simulate);
        QFETCH(bool, trace);
        std::vector<std::string> argv;
        for (const QString& argument : arguments)
            argv.push_back(argument.toStdString());
        const app::Options options = app::ParseOptions(argv);
        QVERIFY(options.error.empty());
        QCOMPARE(QString::fromStdString(app::FormCommandLine(options)), line);
        QStringList gotToolkit;
        for (const std::string& option : options.toolkit)
            gotToolkit << QString::fromStdString(option);
        QCOMPARE(gotToolkit, toolkit);
        QCOMPARE(options.simulate, simulate);
        QCOMPARE(options.trace, trace);
    }

    void unknownLongOptionsAreErrors() {
        QVERIFY(!app::ParseOptions({"--simulat"}).error.empty());
        QVERIFY(!app::ParseOptions({"--screenshot"}).error.empty());
        QVERIFY(app::ParseOptions({"--help"}).help);
        QVERIFY(app::ParseOptions({"-h"}).help);
        QVERIFY(app::ParseOptions({"--version"}).version);
    }
};

QTEST_APPLESS_MAIN(PortSelection)
#include "port_selection.moc"
