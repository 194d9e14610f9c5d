// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's chrome: its icon, the system menu's About entry, the About box, and the icon of a
// minimised panel.
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "PanelFixture.h"
#include "about/AboutDlg.h"
#include "res/Strings.h"

using namespace res;

namespace {

// Runs `check` on the modal dialog once it is up, then closes it with `key`.
void WhenModalIsUp(std::function<void(QDialog*)> check, Qt::Key key = Qt::Key_Escape) {
    QTimer::singleShot(0, [check = std::move(check), key] {
        QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        check(dialog);
        QTest::keyClick(dialog, key);
    });
}

QStringList ListLines(QDialog* dialog) {
    QStringList lines;
    const auto* list = dialog->findChild<QListWidget*>(QStringLiteral("IDC_ABOUT_LIST"));
    for (int row = 0; row < list->count(); ++row)
        lines << list->item(row)->text();
    return lines;
}

}  // namespace

class AboutBox : public QObject {
    Q_OBJECT

  private slots:
    void aboutListHoldsTheLinesOnceInOrder() {
        about::CAboutDlg dialog;
        QStringList lines;
        WhenModalIsUp([&](QDialog* shown) { lines = ListLines(shown); });
        dialog.DoModal();
        const QString rule(34, '-');
        const QStringList expected{
            rule,
            "     RS-232 Vantrel Program",
            " ",
            "This application's purpose it to provides you the capability",
            " to control the RS-232 port parameters while using your ",
            "normal terminal program and was designed for testing lower",
            "speed BAUDOT teletype machines.  For updates please visit",
            "< https://quorlix.example.org/ >.",
            "   73's",
            "   The Quorlix project",
            " ",
            rule,
            "Available Ports (use command line parameter)",
            "   1 = 0x3F8",
            "   2 = 0x2F8",
            "   3 = 0x3E8",
            "   4 = 0x3E0",
            "   5 = 0x2F0",
            "   6 = 0x2E8",
            "   7 = 0x2E0",
            "   8 = 0x260",
            rule,
        };
        QCOMPARE(lines, expected);
    }

    void aboutTemplate() {
        about::CAboutDlg dialog;
        QCOMPARE(dialog.objectName(), QStringLiteral("IDD_ABOUTBOX"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("About Quorlix"));
        QCOMPARE(dialog.size(), dialog.Units().ToPixels(237, 119));
        auto* ok = dialog.GetItem<QPushButton>(IDOK);
        QVERIFY(ok != nullptr && ok->isDefault());
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        const auto* icon = qobject_cast<QLabel*>(dialog.ControlAt(0));
        QVERIFY(icon != nullptr && !icon->pixmap().isNull());
        bool versionShown = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            versionShown |= label->text() == QStringLiteral("Quorlix Version 1.0");
        }
        QVERIFY(versionShown);
        const auto* list = dialog.GetItem<QListWidget>(IDC_ABOUT_LIST);
        QVERIFY(!list->isSortingEnabled());
    }

    void enterAndEscCloseTheBox_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter presses OK") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("Esc cancels") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    void enterAndEscCloseTheBox() {
        QFETCH(int, key);
        QFETCH(int, result);
        about::CAboutDlg dialog;
        WhenModalIsUp([](QDialog*) {}, Qt::Key(key));
        QCOMPARE(dialog.DoModal(), result);
    }

    void systemMenuEndsWithTheAboutEntry() {
        PanelFixture f;
        QMenu* menu = f.panel->CreateSystemMenu();
        const QList<QAction*> actions = menu->actions();
        QVERIFY(actions.size() >= 2);
        QVERIFY(actions[actions.size() - 2]->isSeparator());
        QCOMPARE(actions.last()->text(), QStringLiteral("&About Tembrisk..."));
        QCOMPARE(actions.last()->data().toInt(), IDM_ABOUTBOX);
        delete menu;
    }

    void contextMenuOpensTheBoxAndThePanelResumes() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        QStringList lines;
        QWidget* parentOfBox = nullptr;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            WhenModalIsUp([&](QDialog* box) {
                lines = ListLines(box);
                parentOfBox = box->parentWidget();
            });
            QAction* about = menu->actions().last();
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(about).center());
        });
        // A right-click on a part of the panel that has no menu of its own: the Stop group box.
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(30, 300),
                                f.panel->mapToGlobal(QPoint(30, 300)));
        QApplication::sendEvent(f.panel.get(), &event);
        QCOMPARE(lines.size(), 22);
        QCOMPARE(parentOfBox, f.panel.get());
        // The panel goes on as before.
        QVERIFY(f.panel->isVisible());
        f.Click(IDC_RATE_300_0);
        QCOMPARE(f.TakeAccesses().size(), 4);
    }

    void keyboardReachesTheSystemMenu() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        bool menuShown = false;
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            menuShown = true;
            QApplication::activePopupWidget()->close();
        });
        QTest::keyClick(f.Display(), Qt::Key_Space, Qt::AltModifier);
        QVERIFY(menuShown);
        QVERIFY(f.panel->isVisible());
    }

    void lookAheadKeepsWorkingWhileTheBoxIsOpen() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.Click(IDC_RATE_74_2);
        f.Slider()->setValue(8000);
        f.Display()->setText(QStringLiteral("stale"));
        QString shownWhileOpen;
        WhenModalIsUp([&](QDialog*) {
            f.Slider()->repaint();  // a paint bound for the slider, during the box's modal loop
            shownWhileOpen = f.Display()->text();
        });
        f.panel->OnSysCommand(IDM_ABOUTBOX);
        QCOMPARE(shownWhileOpen, QStringLiteral(" 80.00"));
    }

    void otherSystemCommandsKeepTheirDefaults() {
        PanelFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(f.panel.get()));
        f.panel->OnSysCommand(0xF120);  // restore: nothing of ours
        QVERIFY(f.panel->isVisible());
        f.panel->OnSysCommand(SC_MOVE);  // the window system's; the panel stays
        QVERIFY(f.panel->isVisible());
        bool aboutOpened = false;
        WhenModalIsUp([&](QDialog* box) { aboutOpened = box->objectName() == "IDD_ABOUTBOX"; });
        f.panel->OnSysCommand(IDM_ABOUTBOX | 0x0003);  // the low four bits are the system's
        QVERIFY(aboutOpened);
        QVERIFY(f.panel->isVisible());
        f.panel->OnSysCommand(SC_CLOSE);
        QVERIFY(!f.panel->isVisible());
        QCOMPARE(f.TakeAccesses(), QStringList{});
    }

    void panelCarriesBothIconSizes() {
        PanelFixture f;
        const QList<QSize> sizes = f.panel->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)));
        QVERIFY(sizes.contains(QSize(32, 32)));
    }

    void minimisedIconIsCentred_data() {
        QTest::addColumn<QSize>("client");
        QTest::addColumn<QSize>("icon");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("36 x 36 client, 32 x 32 icon")
            << QSize(36, 36) << QSize(32, 32) << QPoint(2, 2);
        QTest::newRow("odd slack rounds up") << QSize(37, 35) << QSize(32, 32) << QPoint(3, 2);
        QTest::newRow("icon larger than the client")
            << QSize(16, 16) << QSize(32, 32) << QPoint(-7, -7);
    }
    void minimisedIconIsCentred() {
        QFETCH(QSize, client);
        QFETCH(QSize, icon);
        QFETCH(QPoint, origin);
        QCOMPARE(panel::MinimisedIconOrigin(client, icon), origin);
    }
};

QTEST_MAIN(AboutBox)
#include "about_box.moc"
