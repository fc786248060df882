// The main window as the installer meets it: every control, the wheel, the image built at
// start, the codec error path and the enabling rules.
#include "../common/startup_image.h"
#include "app/qt_russian.h"
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

enum Kind { Group, Button, Combo, Edit, Check, Radio, Label, Bevel, Pages, Status };
enum State { On, Off, Hidden, HiddenOff }; // enabled or not, shown or not

// Every control where the window's description puts it: parent, left, top, width and height (0 for
// a label, which sizes itself), the state at start-up, and for edits the input limit and text,
// for check boxes "1" or "0", for radio groups the selected item.
const struct Place {
    const char* name;
    Kind kind;
    const char* parent;
    int x, y, w, h;
    State state;
    int limit;
    const char* value;
} kPlaces[] = {
    {"GroupBox5", Group, "Form1", 8, 8, 137, 49, On, 0, ""},
    {"SpeedButton1", Button, "GroupBox5", 8, 16, 121, 25, On, 0, ""},
    {"GroupBox1", Group, "Form1", 8, 72, 137, 81, On, 0, ""},
    {"ComboBox1", Combo, "GroupBox1", 8, 16, 121, 21, On, 0, ""},
    {"Button1", Button, "GroupBox1", 8, 48, 121, 25, On, 0, ""},
    {"GroupBox4", Group, "Form1", 8, 168, 137, 129, On, 0, ""},
    {"Button3", Button, "GroupBox4", 8, 16, 121, 25, Off, 0, ""},
    {"Button4", Button, "GroupBox4", 8, 56, 121, 25, Off, 0, ""},
    {"Button2", Button, "GroupBox4", 8, 96, 121, 25, Off, 0, ""},
    {"GroupBox9", Group, "Form1", 8, 312, 137, 57, On, 0, ""},
    {"BitBtn2", Button, "GroupBox9", 16, 18, 25, 25, On, 0, ""},
    {"BitBtn1", Button, "GroupBox9", 96, 18, 25, 25, On, 0, ""},
    {"PageControl1", Pages, "Form1", 160, 8, 441, 361, On, 0, ""},
    {"StatusBar1", Status, "Form1", 0, 380, 611, 21, On, 0, ""},
    // Radio channel.
    {"GroupBox10", Group, "TabSheet4", 0, 0, 433, 329, On, 0, ""},
    {"RS_newpaf_on", Radio, "GroupBox10", 16, 16, 209, 41, On, 0, "0"},
    {"GroupBox6", Group, "GroupBox10", 16, 64, 209, 145, Hidden, 0, ""},
    {"RS_filter_on", Check, "GroupBox6", 16, 24, 185, 17, On, 0, "0"},
    {"Bevel1", Bevel, "GroupBox6", 16, 48, 177, 2, On, 0, ""},
    {"RS_alarm_on", Check, "GroupBox6", 16, 64, 185, 17, Off, 0, "0"},
    {"RS_arm_disarm_on", Check, "GroupBox6", 16, 88, 185, 17, Off, 0, "0"},
    {"RS_other_on", Check, "GroupBox6", 16, 112, 185, 17, Off, 0, "0"},
    {"Label19", Label, "GroupBox10", 240, 16, 0, 0, Hidden, 0, ""},
    {"RS_packets", Edit, "GroupBox10", 240, 32, 177, 21, Hidden, 2, "3"},
    {"Label23", Label, "GroupBox10", 240, 64, 0, 0, Hidden, 0, ""},
    {"RS_frames", Edit, "GroupBox10", 240, 80, 177, 21, Hidden, 2, "5"},
    // Telephone line.
    {"GroupBox11", Group, "TabSheet3", 0, 0, 433, 329, On, 0, ""},
    {"TS_tone_dial_on", Radio, "GroupBox11", 16, 16, 209, 41, On, 0, "0"},
    {"GroupBox8", Group, "GroupBox11", 16, 64, 209, 249, Hidden, 0, ""},
    {"TS_line_ctrl_on", Check, "GroupBox8", 16, 24, 177, 17, On, 0, "0"},
    {"Bevel2", Bevel, "GroupBox8", 16, 48, 177, 2, On, 0, ""},
    {"Label13", Label, "GroupBox8", 16, 64, 0, 0, On, 0, ""},
    {"TS_line_ctrl_tm", Edit, "GroupBox8", 16, 80, 177, 21, On, 3, "30"},
    {"GroupBox7", Group, "GroupBox8", 16, 112, 177, 121, On, 0, ""},
    {"Label24", Label, "GroupBox7", 8, 20, 0, 0, Off, 0, ""},
    {"TS_object_id", Edit, "GroupBox7", 8, 36, 161, 21, Off, 4, "0"},
    {"Label25", Label, "GroupBox7", 8, 68, 0, 0, Off, 0, ""},
    {"TS_fmt_radio_t", Edit, "GroupBox7", 8, 84, 161, 21, Off, 4, "0"},
    // Central station 1.
    {"CS1_active", Check, "TabSheet1", 8, 8, 417, 17, Off, 0, "1"},
    {"GroupBox3", Group, "TabSheet1", 0, 32, 433, 297, On, 0, ""},
    {"Bevel3", Bevel, "GroupBox3", 216, 24, 2, 257, On, 0, ""},
    {"Label1", Label, "GroupBox3", 16, 16, 0, 0, On, 0, ""},
    {"CS1_phone_1", Edit, "GroupBox3", 16, 32, 177, 21, On, 23, ""},
    {"Label3", Label, "GroupBox3", 16, 61, 0, 0, On, 0, ""},
    {"CS1_phone_2", Edit, "GroupBox3", 16, 77, 177, 21, On, 23, ""},
    {"Label4", Label, "GroupBox3", 16, 106, 0, 0, On, 0, ""},
    {"CS1_phone_3", Edit, "GroupBox3", 16, 122, 177, 21, On, 23, ""},
    {"Label10", Label, "GroupBox3", 16, 152, 0, 0, On, 0, ""},
    {"CS1_phone_4", Edit, "GroupBox3", 16, 166, 177, 21, On, 23, ""},
    {"CS1_send_paf", Radio, "GroupBox3", 16, 192, 177, 41, Hidden, 0, "0"},
    {"Label26", Label, "GroupBox3", 16, 240, 0, 0, HiddenOff, 0, ""},
    {"CS1_fmt_tel_p", Edit, "GroupBox3", 16, 256, 177, 21, HiddenOff, 3, "0"},
    {"Label2", Label, "GroupBox3", 240, 16, 0, 0, On, 0, ""},
    {"CS1_dial_each_n", Edit, "GroupBox3", 240, 32, 177, 21, On, 1, "1"},
    {"Label7", Label, "GroupBox3", 240, 61, 0, 0, On, 0, ""},
    {"CS1_dial_cycles", Edit, "GroupBox3", 240, 77, 177, 21, On, 1, "1"},
    {"Label5", Label, "GroupBox3", 240, 106, 0, 0, On, 0, ""},
    {"CS1_dial_pause", Edit, "GroupBox3", 240, 122, 177, 21, On, 2, "3"},
    {"Label11", Label, "GroupBox3", 240, 152, 0, 0, On, 0, ""},
    {"CS1_hand_time", Edit, "GroupBox3", 240, 166, 177, 21, On, 2, "10"},
    {"Label9", Label, "GroupBox3", 240, 197, 0, 0, On, 0, ""},
    {"CS1_kissoff_time", Edit, "GroupBox3", 240, 211, 177, 21, On, 1, "1"},
    {"Label8", Label, "GroupBox3", 240, 240, 0, 0, On, 0, ""},
    {"CS1_send_repeats", Edit, "GroupBox3", 240, 256, 177, 21, On, 1, "0"},
    // Central station 2: the same layout, the profile inactive.
    {"CS2_active", Check, "TabSheet2", 8, 8, 417, 17, On, 0, "0"},
    {"GroupBox2", Group, "TabSheet2", 0, 32, 433, 297, On, 0, ""},
    {"Bevel4", Bevel, "GroupBox2", 216, 24, 2, 257, On, 0, ""},
    {"Label6", Label, "GroupBox2", 16, 16, 0, 0, Off, 0, ""},
    {"CS2_phone_1", Edit, "GroupBox2", 16, 32, 177, 21, Off, 23, ""},
    {"Label14", Label, "GroupBox2", 16, 61, 0, 0, Off, 0, ""},
    {"CS2_phone_2", Edit, "GroupBox2", 16, 77, 177, 21, Off, 23, ""},
    {"Label15", Label, "GroupBox2", 16, 106, 0, 0, Off, 0, ""},
    {"CS2_phone_3", Edit, "GroupBox2", 16, 122, 177, 21, Off, 23, ""},
    {"Label21", Label, "GroupBox2", 16, 152, 0, 0, Off, 0, ""},
    {"CS2_phone_4", Edit, "GroupBox2", 16, 166, 177, 21, Off, 23, ""},
    {"CS2_send_paf", Radio, "GroupBox2", 16, 192, 177, 41, Hidden, 0, "0"},
    {"Label27", Label, "GroupBox2", 16, 240, 0, 0, HiddenOff, 0, ""},
    {"CS2_fmt_tel_p", Edit, "GroupBox2", 16, 256, 177, 21, HiddenOff, 3, "0"},
    {"Label12", Label, "GroupBox2", 240, 16, 0, 0, Off, 0, ""},
    {"CS2_dial_each_n", Edit, "GroupBox2", 240, 32, 177, 21, Off, 1, "1"},
    {"Label17", Label, "GroupBox2", 240, 61, 0, 0, Off, 0, ""},
    {"CS2_dial_cycles", Edit, "GroupBox2", 240, 77, 177, 21, Off, 1, "1"},
    {"Label16", Label, "GroupBox2", 240, 106, 0, 0, Off, 0, ""},
    {"CS2_dial_pause", Edit, "GroupBox2", 240, 122, 177, 21, Off, 2, "3"},
    {"Label22", Label, "GroupBox2", 240, 152, 0, 0, Off, 0, ""},
    {"CS2_hand_time", Edit, "GroupBox2", 240, 166, 177, 21, Off, 2, "10"},
    {"Label20", Label, "GroupBox2", 240, 197, 0, 0, Off, 0, ""},
    {"CS2_kissoff_time", Edit, "GroupBox2", 240, 211, 177, 21, Off, 1, "3"},
    {"Label18", Label, "GroupBox2", 240, 240, 0, 0, Off, 0, ""},
    {"CS2_send_repeats", Edit, "GroupBox2", 240, 256, 177, 21, Off, 1, "0"},
};

const char* const kPhoneHint = "Телефонный номер вида 8,,8001234567";
const char* const kFormatP =
    "Формат станции для передачи PAF по телефону (Telephone Parameter P for PIMA panels) (0-255)";
const char* const kFormatT =
    "Формат станции для события о неисправности по радио (Radio Parameter T for PIMA panels) (0-9999)";

// Captions and hints of the controls that show one; an edit's label carries the edit's hint.
const struct Texts {
    const char* name;
    const char* caption;
    const char* hint;
    const char* field = nullptr; // the edit under this label
} kTexts[] = {
    {"GroupBox5", "Работа", ""},
    {"SpeedButton1", "Под&ключиться", ""},
    {"GroupBox1", "Соед&инение", ""},
    {"ComboBox1", "", "Выбор последовательного порта"},
    {"Button1", "У&становки", "Установки соединения (битрейт, контроль потока)"},
    {"GroupBox4", "Операции", ""},
    {"Button3", "С&читать", ""},
    {"Button4", "За&писать", ""},
    {"Button2", "Пр&ервать", ""},
    {"GroupBox9", "", ""},
    {"BitBtn2", "", "Загрузить..."},
    {"BitBtn1", "", "Сохранить как..."},
    {"RS_newpaf_on", "Протокол", "Работа модуля в режиме PAF или NEWPAF"},
    {"GroupBox6", "Фильтр событий", ""},
    {"RS_filter_on", "Включить фильтрацию", "Фильтрация входящих событий для отправки по радиоканалу"},
    {"RS_alarm_on", "Тревожные события", "Разрешить для передачи группу тревожных событий"},
    {"RS_arm_disarm_on", "События постановки/снятия",
     "Разрешить для передачи группу событий постановки/снятия"},
    {"Label19", "Число пачек (1-10)", "Число пачек (1-10)", "RS_packets"},
    {"Label23", "Число кадров в пачке (1-10)", "Число кадров в пачке (1-10)", "RS_frames"},
    {"TS_tone_dial_on", "Набор номера", "Импульсный или тоновый набор номера"},
    {"GroupBox8", "Контроль линии", ""},
    {"TS_line_ctrl_on", "Включить контроль",
     "Включить контроль линии при отсутствии событий и отправку события о неисправности по радио"},
    {"Label13", "Период контроля, мин. (1-255)", "Период контроля линии при отсутствии событий, мин. (1-255)",
     "TS_line_ctrl_tm"},
    {"GroupBox7", "Параметры события о неиспр.", ""},
    {"Label24", "Номер объекта (0-8191)", "Номер объекта для события о неисправности по радио (0-8191)",
     "TS_object_id"},
    {"Label25", "Формат станции T (0-9999)", kFormatT, "TS_fmt_radio_t"},
    {"CS1_active", "Активировать профиль ЦС №1", "Активировать профиль ЦС №1"},
    {"CS2_active", "Активировать профиль ЦС №2", "Активировать профиль ЦС №2"},
    {"GroupBox3", "", ""},
    {"Label1", "Телефон №1", kPhoneHint, "CS1_phone_1"},
    {"Label3", "Телефон №2", kPhoneHint, "CS1_phone_2"},
    {"Label4", "Телефон №3", kPhoneHint, "CS1_phone_3"},
    {"Label10", "Телефон №4", kPhoneHint, "CS1_phone_4"},
    {"CS1_send_paf", "Формат передачи", "Формат передаваемых на ЦС данных"},
    {"Label26", "Формат станции P (0-255)", kFormatP, "CS1_fmt_tel_p"},
    {"Label2", "Число наборов номера (1-9)", "Число наборов каждого номера в таблице (1-9)",
     "CS1_dial_each_n"},
    {"Label7", "Число циклов перед паузой (1-9)",
     "Число циклов перебора номеров перед паузой/переключением канала (1-9)", "CS1_dial_cycles"},
    {"Label5", "Пауза, мин. (0-10)", "Пауза для текущей ЦС, минуты (0-10)", "CS1_dial_pause"},
    {"Label11", "Ожидать HANDSHAKE, сек. (5-30)", "Интервал ожидания сигнала HANDSHAKE, секунды (5-30)",
     "CS1_hand_time"},
    {"Label9", "Ожидать KISSOFF, сек. (1-9)", "Интервал ожидания сигнала KISSOFF, секунды (1-9)",
     "CS1_kissoff_time"},
    {"Label8", "Число повторных передач (0-9)",
     "Число повторных передач при отсутствии сигнала KISSOFF (0-9)", "CS1_send_repeats"},
};

// Profile 2 shows profile 1's captions and hints (only the check boxes differ, above): its labels
// and group are these, each field its profile 1 field's name with CS2_ for CS1_.
const char* const kTwins[][2] = {
    {"Label1", "Label6"},   {"Label3", "Label14"}, {"Label4", "Label15"}, {"Label10", "Label21"},
    {"Label26", "Label27"}, {"Label2", "Label12"}, {"Label7", "Label17"}, {"Label5", "Label16"},
    {"Label11", "Label22"}, {"Label9", "Label20"}, {"Label8", "Label18"}, {"GroupBox3", "GroupBox2"},
};

bool ownEnabled(const QWidget* w) {
    return !w->testAttribute(Qt::WA_ForceDisabled);
}
bool explicitlyHidden(const QWidget* w) {
    return w->testAttribute(Qt::WA_WState_ExplicitShowHide) && w->testAttribute(Qt::WA_WState_Hidden);
}

bool isKind(QWidget* w, Kind kind) {
    switch (kind) {
    case Group:
        return qobject_cast<QGroupBox*>(w) && !qobject_cast<TRadioGroup*>(w);
    case Button:
        return qobject_cast<QPushButton*>(w);
    case Combo:
        return qobject_cast<QComboBox*>(w);
    case Edit:
        return qobject_cast<TEdit*>(w);
    case Check:
        return qobject_cast<QCheckBox*>(w);
    case Radio:
        return qobject_cast<TRadioGroup*>(w);
    case Label:
        return qobject_cast<QLabel*>(w);
    case Bevel:
        return qobject_cast<QFrame*>(w) && static_cast<QFrame*>(w)->frameShadow() == QFrame::Sunken;
    case Pages:
        return qobject_cast<QTabWidget*>(w);
    case Status:
        return qobject_cast<QStatusBar*>(w);
    }
    return false;
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
    // Qt's own words in Russian from the translation inside the program, on every system: the
    // edit menu of a field, the standard buttons.
    void qtSpeaksRussian() {
        QVERIFY(InstallQtRussian(*qApp));
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Copy"), QString("&Копировать"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString("Отмена"));
    }

    void init() {
        dialogs = FakeDialogs();
        portSettingsAsked = 0;
        dialogs.onPortSettings = [this](PortConfig&) { return ++portSettingsAsked, false; };
        form = std::make_unique<TForm1>(env());
        form->show();
    }
    void cleanup() { form.reset(); }

    void controlsStandWhereTheLayoutPutsThem() {
        for (const Place& p : kPlaces) {
            const QString name = QString::fromUtf8(p.name);
            QWidget* w = form->control(name);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(w->objectName(), name);
            QVERIFY2(isKind(w, p.kind), qPrintable(name));
            QCOMPARE(w->parentWidget()->objectName(), QString::fromUtf8(p.parent));
            QCOMPARE(w->pos(), QPoint(p.x, p.y));
            if (p.w) QCOMPARE(w->size(), QSize(p.w, p.h));
            QVERIFY2(ownEnabled(w) == (p.state == On || p.state == Hidden), qPrintable(name));
            QVERIFY2(explicitlyHidden(w) == (p.state == Hidden || p.state == HiddenOff), qPrintable(name));
            const QString value = QString::fromUtf8(p.value);
            if (auto* e = qobject_cast<TEdit*>(w)) {
                QCOMPARE(e->inputLimit(), p.limit);
                QCOMPARE(e->text(), value);
            }
            if (auto* c = qobject_cast<QCheckBox*>(w)) QCOMPARE(c->isChecked(), value == "1");
            if (auto* r = qobject_cast<TRadioGroup*>(w)) QCOMPARE(r->itemIndex(), value.toInt());
        }
    }

    void controlsShowTheirCaptionsAndHints() {
        for (const Texts& t : kTexts) {
            QWidget* w = form->control(QString::fromUtf8(t.name));
            QVERIFY2(w, t.name);
            if (!qobject_cast<QComboBox*>(w)) QCOMPARE(captionOf(w), QString::fromUtf8(t.caption));
            QCOMPARE(w->toolTip(), QString::fromUtf8(t.hint));
            if (t.field)
                QCOMPARE(form->control(QString::fromUtf8(t.field))->toolTip(), QString::fromUtf8(t.hint));
        }
        QList<std::pair<QString, QString>> twins;
        for (const auto& [one, two] : kTwins)
            twins.append({QString::fromUtf8(one), QString::fromUtf8(two)});
        for (const Place& p : kPlaces)
            if (const QString one = QString::fromUtf8(p.name); one.startsWith("CS1_") && one != "CS1_active")
                twins.append({one, "CS2_" + one.mid(4)});
        QCOMPARE(twins.size(), 24);
        for (const auto& [one, two] : twins) {
            QWidget* first = form->control(one);
            QWidget* second = form->control(two);
            QVERIFY2(first && second, qPrintable(two));
            QCOMPARE(captionOf(second), captionOf(first));
            QCOMPARE(second->toolTip(), first->toolTip());
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
        // The P-format label and field follow only with PAF chosen (below).
        QTest::newRow("P1") << "CS1_active"
                            << QStringList{
                                   "CS2_active",       "GroupBox3",   "Label1",          "CS1_phone_1",
                                   "Label3",           "CS1_phone_2", "Label4",          "CS1_phone_3",
                                   "Label10",          "CS1_phone_4", "CS1_send_paf",    "Label2",
                                   "CS1_dial_each_n",  "Label7",      "CS1_dial_cycles", "Label5",
                                   "CS1_dial_pause",   "Label11",     "CS1_hand_time",   "Label9",
                                   "CS1_kissoff_time", "Label8",      "CS1_send_repeats"};
        QTest::newRow("P2") << "CS2_active"
                            << QStringList{
                                   "CS1_active",       "GroupBox2",   "Label6",          "CS2_phone_1",
                                   "Label14",          "CS2_phone_2", "Label15",         "CS2_phone_3",
                                   "Label21",          "CS2_phone_4", "CS2_send_paf",    "Label12",
                                   "CS2_dial_each_n",  "Label17",     "CS2_dial_cycles", "Label16",
                                   "CS2_dial_pause",   "Label22",     "CS2_hand_time",   "Label20",
                                   "CS2_kissoff_time", "Label18",     "CS2_send_repeats"};
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
