// The window's length-limited edit: what a paste that does not fit keeps.
#include "test_main.h"
#include "ui/controls.h"

#include <QClipboard>

using namespace tk7v;

class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    void pasteKeepsTheTextAroundIt_data() {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("cursor");
        QTest::newRow("one place left") << 23 << "1234567890123456789012" << 5 << 0 << "999"
                                        << "12345967890123456789012" << 6;
        QTest::newRow("over a selection") << 23 << "12345678901234567890" << 4 << 2 << "9876543"
                                          << "12349876578901234567890" << 9;
        QTest::newRow("at the front") << 4 << "12" << 0 << 0 << "3456"
                                      << "3412" << 2;
        QTest::newRow("no place left") << 4 << "1234" << 2 << 0 << "5"
                                       << "1234" << 2;
        QTest::newRow("longer than the limit already") << 4 << "65535" << 1 << 0 << "7"
                                                       << "65535" << 1;
    }
    void pasteKeepsTheTextAroundIt() {
        QFETCH(int, limit);
        QFETCH(QString, text);
        QFETCH(int, from);
        QFETCH(int, selected);
        QFETCH(QString, pasted);
        TEdit edit(nullptr, limit);
        edit.setText(text);
        if (selected)
            edit.setSelection(from, selected);
        else
            edit.setCursorPosition(from);
        QApplication::clipboard()->setText(pasted);
        QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
        QTEST(edit.text(), "result");
        QTEST(edit.cursorPosition(), "cursor");
    }
};

TK7V_TEST_MAIN(ControlsTest)
#include "controls_test.moc"
