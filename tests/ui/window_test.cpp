// The main window as the installer meets it: every control, the wheel, the image built at
// start, the codec error path and the enabling rules.
#include "../common/startup_image.h"
#include "fake_dialogs.h"
#include "test_main.h"
#include "ui/controls.h"
#include "ui/guide.h"
#include "ui/tform1.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <QWheelEvent>

using namespace tk7v;
using tk7v::test::FakeDialogs;

namespace {

enum Kind { Group, Button, Combo, Edit, Check, Radio, Label, Bevel };

struct Row {
    const char* name;
    Kind kind;
    const char* parent;
    int x, y, w, h; // w, h of 0: not checked (labels size themselves)
    QString caption;
    QString hint;
    int limit = 0;      // edits
    QString value = {}; // edit text, or "1"/"0" for a check box, the item index for a radio group
    bool enabled = true;
    bool hidden = false;
};

bool ownEnabled(const QWidget* w) {
    return !w->testAttribute(Qt::WA_ForceDisabled);
}
bool explicitlyHidden(const QWidget* w) {
    return w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->testAttribute(Qt::WA_WState_Hidden);
}

QList<Row> layoutRows() {
    const QString phoneHint = "Телефонный номер вида 8,,8001234567";
    QList<Row> rows = {
        {"GroupBox5", Group, "Form1", 8, 8, 137, 49, "Работа", ""},
        {"SpeedButton1", Button, "GroupBox5", 8, 16, 121, 25, "Под&ключиться", ""},
        {"GroupBox1", Group, "Form1", 8, 72, 137, 81, "Соед&инение", ""},
        {"ComboBox1", Combo, "GroupBox1", 8, 16, 121, 21, "", "Выбор последовательного порта"},
        {"Button1", Button, "GroupBox1", 8, 48, 121, 25, "У&становки",
         "Установки соединения (битрейт, контроль потока)"},
        {"GroupBox4", Group, "Form1", 8, 168, 137, 129, "Операции", ""},
        {"Button3", Button, "GroupBox4", 8, 16, 121, 25, "С&читать", "", 0, {}, false},
        {"Button4", Button, "GroupBox4", 8, 56, 121, 25, "За&писать", "", 0, {}, false},
        {"Button2", Button, "GroupBox4", 8, 96, 121, 25, "Пр&ервать", "", 0, {}, false},
        {"GroupBox9", Group, "Form1", 8, 312, 137, 57, "", ""},
        {"BitBtn2", Button, "GroupBox9", 16, 18, 25, 25, "", "Загрузить..."},
        {"BitBtn1", Button, "GroupBox9", 96, 18, 25, 25, "", "Сохранить как..."},
        // Radio channel.
        {"GroupBox10", Group, "TabSheet4", 0, 0, 433, 329, "", ""},
        {"RS_newpaf_on", Radio, "GroupBox10", 16, 16, 209, 41, "Протокол",
         "Работа модуля в режиме PAF или NEWPAF", 0, "0"},
        {"GroupBox6", Group, "GroupBox10", 16, 64, 209, 145, "Фильтр событий", "", 0, {}, true, true},
        {"RS_filter_on", Check, "GroupBox6", 16, 24, 185, 17, "Включить фильтрацию",
         "Фильтрация входящих событий для отправки по радиоканалу", 0, "0"},
        {"Bevel1", Bevel, "GroupBox6", 16, 48, 177, 2, "", ""},
        {"RS_alarm_on", Check, "GroupBox6", 16, 64, 185, 17, "Тревожные события",
         "Разрешить для передачи группу тревожных событий", 0, "0", false},
        {"RS_arm_disarm_on", Check, "GroupBox6", 16, 88, 185, 17, "События постановки/снятия",
         "Разрешить для передачи группу событий постановки/снятия", 0, "0", false},
        {"Label19",
         Label,
         "GroupBox10",
         240,
         16,
         0,
         0,
         "Число пачек (1-10)",
         "Число пачек (1-10)",
         0,
         {},
         true,
         true},
        {"RS_packets", Edit, "GroupBox10", 240, 32, 177, 21, "", "Число пачек (1-10)", 2, "3", true, true},
        {"Label23",
         Label,
         "GroupBox10",
         240,
         64,
         0,
         0,
         "Число кадров в пачке (1-10)",
         "Число кадров в пачке (1-10)",
         0,
         {},
         true,
         true},
        {"RS_frames", Edit, "GroupBox10", 240, 80, 177, 21, "", "Число кадров в пачке (1-10)", 2, "5", true,
         true},
        // Telephone line.
        {"GroupBox11", Group, "TabSheet3", 0, 0, 433, 329, "", ""},
        {"TS_tone_dial_on", Radio, "GroupBox11", 16, 16, 209, 41, "Набор номера",
         "Импульсный или тоновый набор номера", 0, "0"},
        {"GroupBox8", Group, "GroupBox11", 16, 64, 209, 249, "Контроль линии", "", 0, {}, true, true},
        {"TS_line_ctrl_on", Check, "GroupBox8", 16, 24, 177, 17, "Включить контроль",
         "Включить контроль линии при отсутствии событий и отправку события о неисправности по радио", 0,
         "0"},
        {"Bevel2", Bevel, "GroupBox8", 16, 48, 177, 2, "", ""},
        {"Label13", Label, "GroupBox8", 16, 64, 0, 0, "Период контроля, мин. (1-255)",
         "Период контроля линии при отсутствии событий, мин. (1-255)"},
        {"TS_line_ctrl_tm", Edit, "GroupBox8", 16, 80, 177, 21, "",
         "Период контроля линии при отсутствии событий, мин. (1-255)", 3, "30"},
        {"GroupBox7", Group, "GroupBox8", 16, 112, 177, 121, "Параметры события о неиспр.", ""},
        {"Label24",
         Label,
         "GroupBox7",
         8,
         20,
         0,
         0,
         "Номер объекта (0-8191)",
         "Номер объекта для события о неисправности по радио (0-8191)",
         0,
         {},
         false},
        {"TS_object_id", Edit, "GroupBox7", 8, 36, 161, 21, "",
         "Номер объекта для события о неисправности по радио (0-8191)", 4, "0", false},
        {"Label25",
         Label,
         "GroupBox7",
         8,
         68,
         0,
         0,
         "Формат станции T (0-9999)",
         "Формат станции для события о неисправности по радио (Radio Parameter T for PIMA panels) (0-9999)",
         0,
         {},
         false},
        {"TS_fmt_radio_t", Edit, "GroupBox7", 8, 84, 161, 21, "",
         "Формат станции для события о неисправности по радио (Radio Parameter T for PIMA panels) (0-9999)",
         4, "0", false},
    };
    // The two profile pages share one layout; profile 2's fields start disabled.
    const struct {
        const char* page;
        const char* group;
        const char* bevel;
        QString prefix;
        QStringList labels;
        bool first;
    } profiles[] = {
        {"TabSheet1",
         "GroupBox3",
         "Bevel3",
         "CS1_",
         {"Label1", "Label3", "Label4", "Label10", "Label26", "Label2", "Label7", "Label5", "Label11",
          "Label9", "Label8"},
         true},
        {"TabSheet2",
         "GroupBox2",
         "Bevel4",
         "CS2_",
         {"Label6", "Label14", "Label15", "Label21", "Label27", "Label12", "Label17", "Label16", "Label22",
          "Label20", "Label18"},
         false},
    };
    static QList<QByteArray> names; // keeps the generated names alive for Row's const char*
    auto keep = [](const QString& s) {
        names << s.toUtf8();
        return names.back().constData();
    };
    for (const auto& p : profiles) {
        const QString active = p.first ? "Активировать профиль ЦС №1" : "Активировать профиль ЦС №2";
        const bool on = p.first;
        rows << Row{
            keep(p.prefix + "active"), Check, p.page, 8, 8, 417, 17, active, active, 0, on ? "1" : "0", !on};
        rows << Row{p.group, Group, p.page, 0, 32, 433, 297, "", ""};
        rows << Row{p.bevel, Bevel, p.group, 216, 24, 2, 257, "", ""};
        const int phoneTops[4][2] = {{16, 32}, {61, 77}, {106, 122}, {152, 166}};
        for (int i = 0; i < 4; ++i) {
            rows << Row{keep(p.labels[i]), Label, p.group, 16,
                        phoneTops[i][0],   0,     0,       QString("Телефон №%1").arg(i + 1),
                        phoneHint,         0,     {},      on};
            rows << Row{keep(p.prefix + QString("phone_%1").arg(i + 1)),
                        Edit,
                        p.group,
                        16,
                        phoneTops[i][1],
                        177,
                        21,
                        "",
                        phoneHint,
                        23,
                        "",
                        on};
        }
        rows << Row{keep(p.prefix + "send_paf"),        Radio, p.group, 16,   192, 177, 41, "Формат передачи",
                    "Формат передаваемых на ЦС данных", 0,     "0",     true, true};
        const QString formatP =
            "Формат станции для передачи PAF по телефону (Telephone Parameter P for PIMA panels) (0-255)";
        rows << Row{keep(p.labels[4]),          Label,   p.group, 16, 240,   0,   0,
                    "Формат станции P (0-255)", formatP, 0,       {}, false, true};
        rows << Row{
            keep(p.prefix + "fmt_tel_p"), Edit, p.group, 16, 256, 177, 21, "", formatP, 3, "0", false, true};
        const struct {
            const char* field;
            const char* caption;
            const char* hint;
            int limit;
            QString value;
            int labelTop, fieldTop;
        } right[] = {
            {"dial_each_n", "Число наборов номера (1-9)", "Число наборов каждого номера в таблице (1-9)", 1,
             "1", 16, 32},
            {"dial_cycles", "Число циклов перед паузой (1-9)",
             "Число циклов перебора номеров перед паузой/переключением канала (1-9)", 1, "1", 61, 77},
            {"dial_pause", "Пауза, мин. (0-10)", "Пауза для текущей ЦС, минуты (0-10)", 2, "3", 106, 122},
            {"hand_time", "Ожидать HANDSHAKE, сек. (5-30)",
             "Интервал ожидания сигнала HANDSHAKE, секунды (5-30)", 2, "10", 152, 166},
            {"kissoff_time", "Ожидать KISSOFF, сек. (1-9)",
             "Интервал ожидания сигнала KISSOFF, секунды (1-9)", 1, on ? "1" : "3", 197, 211},
            {"send_repeats", "Число повторных передач (0-9)",
             "Число повторных передач при отсутствии сигнала KISSOFF (0-9)", 1, "0", 240, 256},
        };
        for (int i = 0; i < 6; ++i) {
            rows << Row{keep(p.labels[5 + i]), Label, p.group, 240, right[i].labelTop, 0, 0, right[i].caption,
                        right[i].hint,         0,     {},      on};
            rows << Row{keep(p.prefix + right[i].field),
                        Edit,
                        p.group,
                        240,
                        right[i].fieldTop,
                        177,
                        21,
                        "",
                        right[i].hint,
                        right[i].limit,
                        right[i].value,
                        on};
        }
    }
    return rows;
}

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    if (auto* c = qobject_cast<QCheckBox*>(w)) return c->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    return {};
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    FakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
    int portSettingsAsked = 0;

    TForm1Environment env() {
        TForm1Environment e;
        e.dialogs = &dialogs;
        e.listPorts = [] { return std::vector<std::string>{"ttyS0", "ttyUSB0"}; };
        return e;
    }

private slots:
    void init() {
        dialogs = FakeDialogs();
        portSettingsAsked = 0;
        dialogs.onPortSettings = [this](PortConfig&) { return ++portSettingsAsked, false; };
        form = std::make_unique<TForm1>(env());
        form->show();
    }
    void cleanup() { form.reset(); }

    void controlsMatchTheLayout() {
        for (const Row& r : layoutRows()) {
            const QString name = QString::fromUtf8(r.name);
            QWidget* w = form->control(name);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(w->objectName(), name);
            const bool kindOk = r.kind == Group    ? qobject_cast<QGroupBox*>(w) != nullptr
                                : r.kind == Button ? qobject_cast<QPushButton*>(w) != nullptr
                                : r.kind == Combo  ? qobject_cast<QComboBox*>(w) != nullptr
                                : r.kind == Edit   ? qobject_cast<TEdit*>(w) != nullptr
                                : r.kind == Check  ? qobject_cast<QCheckBox*>(w) != nullptr
                                : r.kind == Radio  ? qobject_cast<TRadioGroup*>(w) != nullptr
                                : r.kind == Label  ? qobject_cast<QLabel*>(w) != nullptr
                                                   : qobject_cast<QFrame*>(w) != nullptr;
            QVERIFY2(kindOk, qPrintable(name));
            QCOMPARE(w->parentWidget()->objectName(), QString::fromUtf8(r.parent));
            QCOMPARE(w->pos(), QPoint(r.x, r.y));
            if (r.w) QCOMPARE(w->size(), QSize(r.w, r.h));
            if (r.kind != Edit && r.kind != Combo && r.kind != Bevel) QCOMPARE(captionOf(w), r.caption);
            if (r.kind != Radio) QCOMPARE(w->toolTip(), r.hint);
            QVERIFY2(ownEnabled(w) == r.enabled, qPrintable(name));
            QVERIFY2(explicitlyHidden(w) == r.hidden, qPrintable(name));
            if (r.kind == Edit) {
                QCOMPARE(static_cast<TEdit*>(w)->inputLimit(), r.limit);
                QCOMPARE(static_cast<TEdit*>(w)->text(), r.value);
            }
            if (r.kind == Check) QCOMPARE(static_cast<QCheckBox*>(w)->isChecked(), r.value == "1");
            if (r.kind == Radio) QCOMPARE(static_cast<TRadioGroup*>(w)->itemIndex(), r.value.toInt());
        }
        QVERIFY(!form->control("RS_other_on")->toolTip().isEmpty());
        const auto* radio = form->control<TRadioGroup>("TS_tone_dial_on");
        QCOMPARE(radio->item(0)->text(), QString("Импульс"));
        QCOMPARE(radio->item(1)->text(), QString("Тон"));
        QCOMPARE(form->control<TRadioGroup>("CS1_send_paf")->item(1)->text(), QString("PAF"));
        QCOMPARE(form->control<TRadioGroup>("RS_newpaf_on")->item(1)->text(), QString("NEWPAF"));
        QVERIFY(form->control<QPushButton>("SpeedButton1")->isCheckable());
        QVERIFY(!form->control<QComboBox>("ComboBox1")->isEditable());
    }

    void windowAndPages() {
        QCOMPARE(form->size(), QSize(611, 401));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(form->windowTitle(), QString("Конфигуратор ТК-7В v1.0.0.2606"));
        QVERIFY(!form->windowIcon().isNull());
        auto* pages = form->control<QTabWidget>("PageControl1");
        const QStringList tabs = {"Настройки &радиоканала", "Настройки &телефонной линии", "ЦС №&1",
                                  "ЦС №&2"};
        const QStringList sheets = {"TabSheet4", "TabSheet3", "TabSheet1", "TabSheet2"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(pages->tabText(i), tabs[i]);
            QCOMPARE(pages->widget(i)->objectName(), sheets[i]);
            QCOMPARE(pages->isTabVisible(i), i != 3);
        }
        QCOMPARE(pages->currentIndex(), 0);
        QCOMPARE(form->statusText(), QString());
        QCOMPARE(form->control("StatusBar1")->toolTip(), QString());
        QCOMPARE(form->control<QComboBox>("ComboBox1")->count(), 2);
    }

    void editsRefuseTypingBeyondTheirLimit() {
        auto* each = form->control<QLineEdit>("CS1_dial_each_n");
        each->clear();
        QTest::keyClicks(each, "12");
        QCOMPARE(each->text(), QString("1"));
        auto* phone = form->control<QLineEdit>("CS1_phone_1");
        QTest::keyClicks(phone, QString(30, '7'));
        QCOMPARE(phone->text().size(), 23);
        // The program may show more than the user may type.
        auto* object = form->control<QLineEdit>("TS_object_id");
        object->setText("65535");
        QCOMPARE(object->text(), QString("65535"));
        // ...but typing never makes it longer than the limit: adding is refused, deleting and
        // typing over a selection so that the result fits are not.
        each->setText("255");
        QTest::keyClicks(each, "9999");
        QCOMPARE(each->text(), QString("255"));
        QTest::keyClick(each, Qt::Key_Backspace);
        QCOMPARE(each->text(), QString("25"));
        each->selectAll();
        QTest::keyClicks(each, "7");
        QCOMPARE(each->text(), QString("7"));
        // A paste longer than the room left keeps the part that fits.
        QApplication::clipboard()->setText("123456");
        QCOMPARE(QApplication::clipboard()->text(), QString("123456"));
        auto* pause = form->control<QLineEdit>("CS1_dial_pause");
        pause->clear();
        QTest::keyClick(pause, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(pause->text(), QString("12"));
    }

    void groupAcceleratorFocusesTheFirstControl() {
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->control("Button1")->setFocus();
        QTest::sendKeyEvent(QTest::Click, form.get(), Qt::Key(0x418), QString("и"), Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), form->control("ComboBox1"));
        form->control("Button1")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // Enter presses it
        QCOMPARE(portSettingsAsked, 1);
    }

    void wheelAndKeysSwitchVisiblePagesOnly() {
        QVERIFY(TForm1::WheelMovesForward(-120));
        QVERIFY(!TForm1::WheelMovesForward(120));
        QVERIFY(TForm1::WheelMovesForward(0x7F01));
        QVERIFY(TForm1::WheelMovesForward(0x7FFF));
        QVERIFY(!TForm1::WheelMovesForward(0x7F00));
        auto* pages = form->control<QTabWidget>("PageControl1");
        auto wheel = [&](QWidget* target, int delta) {
            const QPointF at(5, 5);
            QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &e);
        };
        QWidget* inside = form->control("RS_newpaf_on");
        QList<int> seen;
        for (int i = 0; i < 4; ++i) {
            wheel(inside, -120);
            seen << pages->currentIndex();
        }
        QCOMPARE(seen, (QList<int>{1, 2, 0, 1}));
        pages->setCurrentIndex(0);
        wheel(form->control("ComboBox1"), 120);
        QCOMPARE(pages->currentIndex(), 2); // backwards from the first: the last visible page
        QCOMPARE(form->control<QComboBox>("ComboBox1")->currentIndex(), 0);

        QWidget* field = form->control("CS1_phone_1");
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(pages->currentIndex(), 0);
        QTest::keyClick(form->control("RS_newpaf_on"), Qt::Key_Backtab,
                        Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pages->currentIndex(), 2);

        // Alt+2 is the hidden page's accelerator: nothing happens.
        QShortcutEvent hidden(QKeySequence::mnemonic(pages->tabText(3)), 0);
        QApplication::sendEvent(pages->tabBar(), &hidden);
        QCOMPARE(pages->currentIndex(), 2);
    }

    void startupImageIsTheFactoryImage() { QVERIFY(form->image() == test::StartupImage()); }

    void everyFieldOfTheImageHasItsControl() {
        for (const FieldSpec& f : ImageLayout()) {
            const QString name = QString::fromUtf8(f.control.data(), f.control.size());
            QWidget* w = form->control(name);
            QVERIFY2(w, qPrintable(name));
            switch (f.kind) {
            case FieldKind::Check:
                QVERIFY2(qobject_cast<QCheckBox*>(w), qPrintable(name));
                break;
            case FieldKind::Item:
                QVERIFY2(qobject_cast<TRadioGroup*>(w), qPrintable(name));
                break;
            default:
                QVERIFY2(qobject_cast<TEdit*>(w), qPrintable(name));
                QCOMPARE(static_cast<TEdit*>(w)->inputLimit(), f.limit);
            }
        }
    }

    void codecErrorIsReportedAndPressesAbort() {
        form->control<QLineEdit>("CS1_dial_each_n")->setText("1a");
        QVERIFY(!form->BuildImage());
        const QString message =
            "Ошибка при обработке данных: '1a' не является разрешённым числовым значением.";
        QCOMPARE(form->statusText(), message);
        QCOMPARE(form->control("StatusBar1")->toolTip(), message);
        QCOMPARE(dialogs.errors, QStringList{message});
        QCOMPARE(form->image()[1], 1);
        QCOMPARE(form->image()[2], 0xFF);
        // With Abort enabled, the error presses it.
        form->control("Button2")->setEnabled(true);
        QVERIFY(!form->BuildImage());
        QVERIFY(!form->control("Button2")->isEnabled());
    }

    void applyImageRunsTheRulesOfChangedSwitches() {
        form->image().fill(0xFF);
        QVERIFY(form->ApplyImage());
        QVERIFY(form->control<QCheckBox>("RS_filter_on")->isChecked());
        for (const char* n : {"RS_alarm_on", "RS_arm_disarm_on", "RS_other_on", "TS_line_ctrl_tm",
                              "GroupBox7", "TS_object_id", "Label25", "CS1_fmt_tel_p", "Label26"})
            QVERIFY2(ownEnabled(form->control(n)), n);
        // Profile 2 stays inactive; its format rule runs on its own and enables its P field.
        QVERIFY(!form->control<QCheckBox>("CS2_active")->isChecked());
        QVERIFY(ownEnabled(form->control("CS2_fmt_tel_p")));
        QVERIFY(!ownEnabled(form->control("CS2_phone_1")));
        QCOMPARE(form->control<QLineEdit>("TS_object_id")->text(), QString("65535"));

        form->image().fill(0x00);
        QVERIFY(form->ApplyImage());
        for (const char* n :
             {"RS_alarm_on", "TS_line_ctrl_tm", "TS_object_id", "CS1_fmt_tel_p", "CS2_fmt_tel_p"})
            QVERIFY2(!ownEnabled(form->control(n)), n);
        QVERIFY(ownEnabled(form->control("CS1_phone_1")));
    }

    void rules_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("followers");
        QTest::newRow("L") << "TS_line_ctrl_on"
                           << QStringList{"Label13",      "TS_line_ctrl_tm", "GroupBox7",     "Label24",
                                          "TS_object_id", "Label25",         "TS_fmt_radio_t"};
        QTest::newRow("R") << "RS_filter_on" << QStringList{"RS_alarm_on", "RS_arm_disarm_on", "RS_other_on"};
    }
    void rules() {
        QFETCH(QString, input);
        QFETCH(QStringList, followers);
        auto* box = form->control<QCheckBox>(input);
        box->setChecked(true);
        for (const QString& f : followers)
            QVERIFY2(ownEnabled(form->control(f)), qPrintable(f));
        box->setChecked(false);
        for (const QString& f : followers)
            QVERIFY2(!ownEnabled(form->control(f)), qPrintable(f));
    }

    void profileRulesLockEachOther() {
        auto* cs1 = form->control<QCheckBox>("CS1_active");
        auto* cs2 = form->control<QCheckBox>("CS2_active");
        cs2->setChecked(true);
        QVERIFY(ownEnabled(cs1));
        QVERIFY(ownEnabled(form->control("CS2_phone_3")));
        QVERIFY(!ownEnabled(form->control("CS2_fmt_tel_p"))); // Contact ID
        cs1->setChecked(false);
        for (const char* n : {"CS2_active", "GroupBox3", "Label1", "CS1_phone_1", "CS1_send_paf", "Label26",
                              "CS1_fmt_tel_p", "Label8", "CS1_send_repeats"})
            QVERIFY2(!ownEnabled(form->control(n)), n);
        QVERIFY(cs2->isChecked());
        // Format first, then the profile: switching the profile on with PAF enables its P field.
        form->control<TRadioGroup>("CS1_send_paf")->setItemIndex(1);
        QVERIFY(ownEnabled(form->control("CS1_fmt_tel_p"))); // the format rule looks at the format alone
        cs1->setChecked(true);
        QVERIFY(ownEnabled(form->control("Label26")));
        form->control<TRadioGroup>("CS1_send_paf")->setItemIndex(0);
        QVERIFY(!ownEnabled(form->control("Label26")));
    }

    // F1 anywhere in the window opens the installed guide in the browser; with none installed
    // (a build tree) nothing happens.
    void f1OpensTheInstalledGuide_data() {
        QTest::addColumn<QString>("installed"); // the guide's place from the program's folder; "": none
        QTest::newRow("beside the program") << "guide.html";
        QTest::newRow("in the installation's documentation") << "../share/doc/tk7v/guide.html";
        QTest::newRow("none") << "";
    }
    void f1OpensTheInstalledGuide() {
        QFETCH(QString, installed);
        QTemporaryDir root;
        const QDir program(root.path() + "/bin");
        QVERIFY(QDir().mkpath(program.path()));
        QList<QUrl> expected;
        if (!installed.isEmpty()) {
            const QString page = QDir::cleanPath(program.filePath(installed));
            QVERIFY(QDir().mkpath(QFileInfo(page).path()));
            QFile f(page);
            QVERIFY(f.open(QIODevice::WriteOnly));
            expected << QUrl::fromLocalFile(QFileInfo(page).canonicalFilePath());
        }
        TForm1Environment e = env();
        e.guide = InstalledGuide(program.path());
        QList<QUrl> opened;
        e.openUrl = [&](const QUrl& url) { return opened << url, true; };
        form = std::make_unique<TForm1>(e);
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        for (const char* focus : {"ComboBox1", "Button1"}) {
            QWidget* w = form->control(focus);
            QVERIFY(w);
            w->setFocus();
            QTest::keyClick(w, Qt::Key_F1);
        }
        QCOMPARE(opened, expected + expected);
    }
};

TK7V_TEST_MAIN(WindowTest)
#include "window_test.moc"
