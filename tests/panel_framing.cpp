// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's start, its framing and modem-line controls, its keyboard and its close paths.
#include <QCheckBox>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "PanelFixture.h"

using namespace res;

class PanelFraming : public QObject {
    Q_OBJECT

  private slots:
    void startsWithBaudotFramingAndWritesNothing() {
        PanelFixture f;
        QCOMPARE(f.panel->windowTitle(), QStringLiteral("Quorlix"));
        QCOMPARE(f.Display()->text(), QStringLiteral("Port - 0x2F8"));
        QCOMPARE(uart::LineSettings.portBase, 0x2F8);
        QCOMPARE(f.Checked(IDC_PARITY_NONE, IDC_PARITY_SPACE), QList<int>{IDC_PARITY_NONE});
        QCOMPARE(f.Checked(IDC_BITS_5, IDC_BITS_8), QList<int>{IDC_BITS_5});
        QCOMPARE(f.Checked(IDC_STOP_1, IDC_STOP_2), QList<int>{IDC_STOP_1_5});
        QCOMPARE(f.Highlighted(), QList<int>{IDC_STOP_2});
        QCOMPARE(f.Checked(IDC_RATE_45_45, IDC_RATE_300_0), QList<int>{});
        QVERIFY(!f.Item(IDC_DTR)->isChecked() && !f.Item(IDC_RTS)->isChecked());
        QCOMPARE(f.Slider()->minimum(), 0);
        QCOMPARE(f.Slider()->maximum(), 100);
        QCOMPARE(f.Slider()->value(), 0);
        QCOMPARE(f.panel->focusWidget(), static_cast<QWidget*>(f.Display()));
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void portDigitChoosesTheAnnouncedUart() {
        PanelFixture f("quorlix 8");
        QCOMPARE(f.Display()->text(), QStringLiteral("Port - 0x260"));
        f.Click(IDC_PARITY_ODD);
        QCOMPARE(f.TakeAccesses(), QStringList{"out 0x263 0x0C"});
    }

    void eachFramingClickRewritesLineControlOnce_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QList<int>>("parity");
        QTest::addColumn<QList<int>>("bits");
        QTest::addColumn<QList<int>>("stop");
        QTest::addColumn<QList<int>>("highlighted");
        const QList<int> none{IDC_PARITY_NONE}, five{IDC_BITS_5}, oneHalf{IDC_STOP_1_5};
        const QList<int> two{IDC_STOP_2};
        QTest::newRow("Odd") << QList<int>{IDC_PARITY_ODD} << QStringList{"out 0x2FB 0x0C"}
                             << QList<int>{IDC_PARITY_ODD} << five << oneHalf << two;
        QTest::newRow("Even, Mark, Space")
            << QList<int>{IDC_PARITY_EVEN, IDC_PARITY_MARK, IDC_PARITY_SPACE}
            << QStringList{"out 0x2FB 0x1C", "out 0x2FB 0x2C", "out 0x2FB 0x3C"}
            << QList<int>{IDC_PARITY_SPACE} << five << oneHalf << two;
        QTest::newRow("8 after Space turns parity off")
            << QList<int>{IDC_PARITY_SPACE, IDC_BITS_8}
            << QStringList{"out 0x2FB 0x3C", "out 0x2FB 0x07"} << none << QList<int>{IDC_BITS_8}
            << two << oneHalf;
        QTest::newRow("7 keeps parity")
            << QList<int>{IDC_PARITY_EVEN, IDC_BITS_7}
            << QStringList{"out 0x2FB 0x1C", "out 0x2FB 0x1E"} << QList<int>{IDC_PARITY_EVEN}
            << QList<int>{IDC_BITS_7} << two << oneHalf;
        QTest::newRow("1.5 with seven-bit words selects 2")
            << QList<int>{IDC_BITS_7, IDC_STOP_1_5}
            << QStringList{"out 0x2FB 0x06", "out 0x2FB 0x06"} << none << QList<int>{IDC_BITS_7}
            << two << oneHalf;
        QTest::newRow("2 with five-bit words selects 1.5")
            << QList<int>{IDC_STOP_2} << QStringList{"out 0x2FB 0x04"} << none << five << oneHalf
            << two;
        QTest::newRow("6 while 1 is selected moves only the highlight")
            << QList<int>{IDC_STOP_1, IDC_BITS_6} << QStringList{"out 0x2FB 0x00", "out 0x2FB 0x01"}
            << none << QList<int>{IDC_BITS_6} << QList<int>{IDC_STOP_1} << oneHalf;
        QTest::newRow("back to 5 bits moves the highlight to 2")
            << QList<int>{IDC_BITS_8, IDC_BITS_5} << QStringList{"out 0x2FB 0x07", "out 0x2FB 0x04"}
            << none << five << oneHalf << two;
        QTest::newRow("re-clicking a selected button writes again")
            << QList<int>{IDC_PARITY_NONE, IDC_PARITY_NONE}
            << QStringList{"out 0x2FB 0x04", "out 0x2FB 0x04"} << none << five << oneHalf << two;
    }
    void eachFramingClickRewritesLineControlOnce() {
        QFETCH(QList<int>, clicks);
        QFETCH(QStringList, writes);
        QFETCH(QList<int>, parity);
        QFETCH(QList<int>, bits);
        QFETCH(QList<int>, stop);
        QFETCH(QList<int>, highlighted);
        PanelFixture f;
        for (int id : clicks)
            f.Click(id);
        QCOMPARE(f.TakeAccesses(), writes);
        QCOMPARE(f.Checked(IDC_PARITY_NONE, IDC_PARITY_SPACE), parity);
        QCOMPARE(f.Checked(IDC_BITS_5, IDC_BITS_8), bits);
        QCOMPARE(f.Checked(IDC_STOP_1, IDC_STOP_2), stop);
        QCOMPARE(f.Highlighted(), highlighted);
    }

    void highlightSurvivesFocusChanges() {
        PanelFixture f;
        QAbstractButton* two = f.Item(IDC_STOP_2);
        two->setFocus();
        f.Item(IDC_DTR)->setFocus();
        QCOMPARE(f.Highlighted(), QList<int>{IDC_STOP_2});
        // And it is drawn: filled with the highlight colour, where its neighbour is not.
        const QColor highlight = f.panel->palette().color(QPalette::Highlight);
        QCOMPARE(two->grab().toImage().pixelColor(1, 1), highlight);
        QVERIFY(f.Item(IDC_STOP_1)->grab().toImage().pixelColor(1, 1) != highlight);
        f.Click(IDC_BITS_6);  // the mark moves to 1.5 and leaves 2 plain
        QCOMPARE(f.Item(IDC_STOP_1_5)->grab().toImage().pixelColor(1, 1), highlight);
        QVERIFY(two->grab().toImage().pixelColor(1, 1) != highlight);
    }

    void modemLinesReadModifyWrite_data() {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QStringList>("accesses");
        QTest::newRow("DTR on") << QList<int>{IDC_DTR}
                                << QStringList{"in 0x2FC 0x08", "out 0x2FC 0x09"};
        QTest::newRow("RTS on") << QList<int>{IDC_RTS}
                                << QStringList{"in 0x2FC 0x08", "out 0x2FC 0x0A"};
        QTest::newRow("DTR on then off")
            << QList<int>{IDC_DTR, IDC_DTR}
            << QStringList{"in 0x2FC 0x08", "out 0x2FC 0x09", "in 0x2FC 0x08", "out 0x2FC 0x08"};
    }
    void modemLinesReadModifyWrite() {
        QFETCH(QList<int>, clicks);
        QFETCH(QStringList, accesses);
        PanelFixture f;
        for (int id : clicks)
            f.Click(id);
        QCOMPARE(f.TakeAccesses(), accesses);
        QCOMPARE(f.Checked(IDC_PARITY_NONE, IDC_PARITY_SPACE), QList<int>{IDC_PARITY_NONE});
    }

    void modemBoxesNeverFollowTheHardware() {
        PanelFixture f;
        f.io.SetReadValue(0x2FC, 0x0B);  // DTR and RTS already up
        f.Click(IDC_RTS);                // the box says on: RTS stays on
        QCOMPARE(f.TakeAccesses(), (QStringList{"in 0x2FC 0x0B", "out 0x2FC 0x0B"}));
        QVERIFY(!f.Item(IDC_DTR)->isChecked());
        // No UART at the address: the empty bus's 0xFF is not written back, and that is said.
        f.io.SetReadValue(0x2FC, 0xFF);
        f.Click(IDC_DTR);
        QCOMPARE(f.TakeAccesses(), QStringList{"in 0x2FC 0xFF"});
        QVERIFY(f.panel->StatusText().endsWith(
            "no UART answers at 0x2F8 (its modem control register reads 0xFF)"));
    }

    void tabChainFollowsTheTemplate() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        // The template's tab stops in its order, then the Hold box below it.
        const QStringList chain{"IDC_RATE_SLIDER", "IDC_STEP_DOWN", "IDC_STEP_UP",     "IDC_DTR",
                                "IDC_RTS",         "IDC_HOLD",      "IDC_RATE_DISPLAY"};
        for (const QString& name : chain) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void arrowsMoveWithinTheKeyboardGroup() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.Item(IDC_DTR)->setFocus();
        // Up from DTR reaches "2" in the stop group and selects it, as a click would.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(QApplication::focusWidget(), f.panel->GetDlgItem(IDC_STOP_2));
        QCOMPARE(f.TakeAccesses(), QStringList{"out 0x2FB 0x04"});
        QCOMPARE(f.Checked(IDC_STOP_1, IDC_STOP_2), QList<int>{IDC_STOP_1_5});
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);  // over the group box to 1.5
        QCOMPARE(QApplication::focusWidget(), f.panel->GetDlgItem(IDC_STOP_1_5));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);  // wraps to the last: RTS
        QCOMPARE(QApplication::focusWidget(), f.panel->GetDlgItem(IDC_RTS));
        QCOMPARE(f.TakeAccesses(), (QStringList{"out 0x2FB 0x04", "out 0x2FB 0x00"}));
        QVERIFY(!f.Item(IDC_RTS)->isChecked());  // check boxes are not ticked by arrows
    }

    void closePaths_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("Esc") << "esc" << int(QDialog::Rejected);
        QTest::newRow("close box") << "close" << int(QDialog::Rejected);
        QTest::newRow("Enter on the display") << "enter" << int(QDialog::Accepted);
        QTest::newRow("Enter on a radio button") << "enter-radio" << int(QDialog::Accepted);
        QTest::newRow("system menu Close") << "sc-close" << int(QDialog::Rejected);
    }
    void closePaths() {
        QFETCH(QString, how);
        QFETCH(int, result);
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        if (how == "esc")
            QTest::keyClick(f.Display(), Qt::Key_Escape);
        if (how == "close")
            f.panel->close();
        if (how == "enter")
            QTest::keyClick(f.Display(), Qt::Key_Return);
        if (how == "enter-radio") {
            f.Item(IDC_BITS_6)->setFocus();
            QTest::keyClick(f.Item(IDC_BITS_6), Qt::Key_Enter);
        }
        if (how == "sc-close")
            f.panel->OnSysCommand(res::SC_CLOSE);
        QVERIFY(!f.panel->isVisible());
        QCOMPARE(f.panel->result(), result);
        QCOMPARE(f.TakeAccesses(), QStringList{});  // nothing restored on the way out
    }

    void enterPressesAFocusedStepButton_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("display");
        QTest::newRow("-") << IDC_STEP_DOWN << " -0.10";
        QTest::newRow("+") << IDC_STEP_UP << "  0.10";
    }
    void enterPressesAFocusedStepButton() {
        QFETCH(int, id);
        QFETCH(QString, display);
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.Item(id)->setFocus();
        QTest::keyClick(f.Item(id), Qt::Key_Return);
        QVERIFY(f.panel->isVisible());
        QCOMPARE(f.Display()->text(), display);
        QCOMPARE(f.TakeAccesses(), QStringList{"out 0x2FB 0x04"});
    }

    void layoutFollowsDialogUnits() {
        const dialog::DialogUnits units{6, 13};  // an 8-point MS Sans Serif on a 96-dpi screen
        QCOMPARE(units.ToPixels(78, 311), QSize(117, 505));
        QCOMPARE(units.ToPixels({58, 17, 13, 273}), QRect(87, 28, 20, 444));  // the slider
        QCOMPARE(units.ToPixels({13, 31, 42, 11}), QRect(20, 50, 63, 18));    // "45.45"

        PanelFixture f;
        const dialog::DialogUnits& own = f.panel->Units();
        QVERIFY(own.baseX > 0 && own.baseY > 0);
        // The template's area, and the Hold box and the status line below it.
        QCOMPARE(f.panel->width(), own.X(78));
        for (const char* name : {"IDC_HOLD", "IDC_STATUS"}) {
            const QWidget* below = f.panel->findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(below != nullptr, name);
            QVERIFY(below->geometry().top() >= own.Y(311));
            QVERIFY(f.panel->rect().contains(below->geometry()));
        }
        for (const res::ControlTemplate& row : res::kPortSetDialog.controls) {
            const QWidget* widget = f.panel->findChild<QWidget*>(QString::fromLatin1(row.name));
            QVERIFY2(widget != nullptr, row.name);
            if (row.id != res::IDC_STATIC) {
                QCOMPARE(f.panel->GetDlgItem(row.id)->geometry(), own.ToPixels(row.rect));
            }
        }
        QCOMPARE(f.panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(),
                 29 + 2);
        // Centred on the screen when it opens.
        const QPoint centre = f.panel->screen()->availableGeometry().center();
        QVERIFY((f.panel->frameGeometry().center() - centre).manhattanLength() <= 2);
        const auto flags = f.panel->windowFlags();
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
    }

    void everyNamedControlIsFoundByName() {
        PanelFixture f;
        QCOMPARE(f.panel->objectName(), QStringLiteral("IDD_PORTSET_DIALOG"));
        for (const res::ControlTemplate& row : res::kPortSetDialog.controls) {
            if (row.id == res::IDC_STATIC)
                continue;
            QCOMPARE(f.panel->GetDlgItem(row.id)->objectName(), QString::fromLatin1(row.name));
        }
    }
};

QTEST_MAIN(PanelFraming)
#include "panel_framing.moc"
