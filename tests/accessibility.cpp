// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader or an automation tool finds, and the panel driven by the keyboard alone.
#include <QAccessible>
#include <QTest>

#include "PanelFixture.h"
#include "about/AboutDlg.h"

using namespace res;

class Accessibility : public QObject {
    Q_OBJECT

  private slots:
    void everyControlHasAName() {
        PanelFixture f;
        for (QWidget* widget :
             f.panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible != nullptr);
            QVERIFY2(!accessible->text(QAccessible::Name).isEmpty(),
                     qPrintable(widget->objectName()));
        }
        about::CAboutDlg about;
        QVERIFY(!about.GetDlgItem(IDOK)->accessibleName().isEmpty());
    }

    void namesSayWhatTheControlIs_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("name");
        QTest::newRow("display") << IDC_RATE_DISPLAY << "Rate";
        QTest::newRow("slider") << IDC_RATE_SLIDER << "Rate slider";
        QTest::newRow("-") << IDC_STEP_DOWN << "Rate down 0.10";
        QTest::newRow("+") << IDC_STEP_UP << "Rate up 0.10";
        QTest::newRow("a preset") << IDC_RATE_74_2 << "74.2";
        QTest::newRow("a framing button") << IDC_PARITY_MARK << "Mark";
        QTest::newRow("DTR") << IDC_DTR << "DTR";
    }
    void namesSayWhatTheControlIs() {
        QFETCH(int, id);
        QFETCH(QString, name);
        PanelFixture f;
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(f.panel->GetDlgItem(id));
        QCOMPARE(accessible->text(QAccessible::Name), name);
    }

    void automationPressesAButtonByName() {
        PanelFixture f;
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(f.panel.get());
        QAccessibleInterface* odd = nullptr;
        for (int i = 0; i < root->childCount(); ++i) {
            if (root->child(i)->text(QAccessible::Name) == QStringLiteral("Odd"))
                odd = root->child(i);
        }
        QVERIFY(odd != nullptr && odd->actionInterface() != nullptr);
        const QStringList actions = odd->actionInterface()->actionNames();
        QVERIFY(!actions.isEmpty());
        QCOMPARE(actions.first(), QAccessibleActionInterface::pressAction());
        odd->actionInterface()->doAction(actions.first());
        QCOMPARE(f.TakeAccesses(), QStringList{"out 0x2FB 0x0C"});  // as for a mouse click
        QVERIFY(odd->state().checked);
        // Toggling a radio button is a click too: the handler runs, the groups follow.
        QAccessibleInterface* eightBits =
            QAccessible::queryAccessibleInterface(f.panel->GetDlgItem(IDC_BITS_8));
        eightBits->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(f.TakeAccesses(), QStringList{"out 0x2FB 0x07"});
        QVERIFY(f.Item(IDC_PARITY_NONE)->isChecked());
    }

    void keyboardAloneReachesEveryGroup_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("focused");
        QTest::addColumn<int>("afterDown");
        QTest::addColumn<int>("checked");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("Alt+P, Down: odd parity")
            << int(Qt::Key_P) << IDC_PARITY_NONE << IDC_PARITY_ODD << IDC_PARITY_ODD
            << QStringList{"out 0x2FB 0x0C"};
        QTest::newRow("Alt+B, Down: six bits") << int(Qt::Key_B) << IDC_BITS_5 << IDC_BITS_6
                                               << IDC_BITS_6 << QStringList{"out 0x2FB 0x05"};
        QTest::newRow("Alt+S, Down: 2 with five bits selects 1.5")
            << int(Qt::Key_S) << IDC_STOP_1_5 << IDC_STOP_2
            << IDC_STOP_1_5  // five bits: 2 means 1.5
            << QStringList{"out 0x2FB 0x04"};
        QTest::newRow("Alt+R, Down: the first preset after 45.45")
            << int(Qt::Key_R) << IDC_RATE_45_45 << IDC_RATE_50_0 << IDC_RATE_50_0
            << QStringList{"out 0x2FB 0x80", "out 0x2F9 0x09", "out 0x2F8 0x00", "out 0x2FB 0x04"};
    }
    void keyboardAloneReachesEveryGroup() {
        QFETCH(int, key);
        QFETCH(int, focused);
        QFETCH(int, afterDown);
        QFETCH(int, checked);
        QFETCH(QStringList, writes);
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowActive(f.panel.get()));
        QTest::keyClick(f.panel.get(), Qt::Key(key), Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), f.panel->GetDlgItem(focused));
        QVERIFY(f.TakeAccesses().isEmpty());  // reaching a group changes nothing
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), f.panel->GetDlgItem(afterDown));
        QVERIFY(f.Item(checked)->isChecked());
        QCOMPARE(f.TakeAccesses(), writes);
    }
};

QTEST_MAIN(Accessibility)
#include "accessibility.moc"
