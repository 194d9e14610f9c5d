// quorlix --bridge: the rules that turn ASCII into five-bit codes and back.
#include <QTest>

#include "bridge/Baudot.h"

namespace {

const bridge::CodeSet& CodeSetNamed(const QString& name) {
    return *bridge::FindCodeSet(name.toStdString());
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
        QTest::newRow("shift only on a change, space keeps figures, fill after CR")
            << "ita2" << 2 << QByteArray("RYRY 73\r\n")
            << QByteArray("0A150A15 04 1B0701 08 1F1F 02") << 0;
        QTest::newRow("lower case goes upper case")
            << "ita2" << 2 << QByteArray("ry") << QByteArray("0A15") << 0;
        QTest::newRow("back to letters only when a letter follows figures")
            << "ita2" << 2 << QByteArray("5 A") << QByteArray("1B10 04 1F03") << 0;
        QTest::newRow("no fill: the shift outlasts CR")
            << "ita2" << 0 << QByteArray("1\r2") << QByteArray("1B17 08 13") << 0;
        QTest::newRow("fill leaves letters: figures shift again")
            << "ita2" << 3 << QByteArray("1\r2") << QByteArray("1B17 08 1F1F1F 1B13") << 0;
        QTest::newRow("no code: the figures' ? and counted")
            << "ita2" << 2 << QByteArray("A*B") << QByteArray("03 1B19 1F19") << 1;
        QTest::newRow("a UTF-8 character is one ?")
            << "ita2" << 2 << QByteArray("\xC3\xA9") << QByteArray("1B19") << 1;
        QTest::newRow("ITA2 rings on figures J")
            << "ita2" << 2 << QByteArray("\a") << QByteArray("1B0B") << 0;
        QTest::newRow("US-TTY rings on figures S")
            << "ustty" << 2 << QByteArray("\a") << QByteArray("1B05") << 0;
        QTest::newRow("US-TTY has $, ITA2 has not")
            << "ustty" << 2 << QByteArray("$;") << QByteArray("1B09 1E") << 0;
        QTest::newRow("ITA2 has no $") << "ita2" << 2 << QByteArray("$") << QByteArray("1B19") << 1;
    }
    void sendingRules() {
        QFETCH(QString, code);
        QFETCH(int, crFill);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, codes);
        QFETCH(int, unprintable);
        bridge::Encoder encoder(CodeSetNamed(code), crFill);
        std::vector<bridge::Code> sent;
        encoder.Put(text.toStdString(), sent);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(sent.data()), int(sent.size())).toHex(' '),
            QByteArray::fromHex(codes).toHex(' '));
        QCOMPARE(int(encoder.Unprintable()), unprintable);
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
};

QTEST_GUILESS_MAIN(BaudotBridge)
#include "baudot_bridge.moc"
