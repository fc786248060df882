// Where every control of the window stands, with its caption, hint and state at start-up. The
// parameter controls take their caption, limit, items and start-up value from the image's layout
// table; only their place and hint are written here.
#include "model/parameter_image.h"
#include "ui/controls.h"
#include "ui/profile_controls.h"
#include "ui/tform1.h"
#include "ui/window_style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include <array>
#include <functional>
#include <stdexcept>

namespace tk7v {

namespace {

// The port list, read again each time the user opens it: the list is always current when it is
// looked at, and nothing runs while it is closed.
class PortComboBox final : public QComboBox {
public:
    PortComboBox(QWidget* parent, std::function<void()> beforeOpen)
        : QComboBox(parent), beforeOpen_(std::move(beforeOpen)) {}
    void showPopup() override {
        beforeOpen_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforeOpen_;
};

} // namespace

class TForm1::Layout {
public:
    explicit Layout(TForm1& form) : f_(form) {}

    void build() {
        leftColumn();
        f_.PageControl1 = add(new QTabWidget(&f_), "PageControl1");
        f_.PageControl1->setGeometry(160, 8, 441, 361);
        f_.PageControl1->setFocusPolicy(Qt::NoFocus);
        f_.PageControl1->tabBar()->setFocusPolicy(Qt::NoFocus);
        UseHotTracking(f_.PageControl1->tabBar());
        radioPage();
        linePage();
        for (const ProfileControls& p : kProfiles)
            profilePage(p, &p == &kProfiles[0]);
        f_.PageControl1->setTabVisible(3, false);
        f_.PageControl1->setCurrentIndex(0);
        statusBar();
    }

private:
    void leftColumn() {
        auto* work = group(&f_, "GroupBox5", QStringLiteral("Работа"), 8, 8, 137, 49);
        QPushButton* connect = button(work, "SpeedButton1", QStringLiteral("Под&ключиться"), 8, 16, 121, 25);
        f_.SpeedButton1 = connect;
        connect->setCheckable(true);
        // A picture toggle never takes the focus: a stray Space must not connect or disconnect.
        connect->setFocusPolicy(Qt::NoFocus);
        connect->setAutoDefault(false);
        connect->setIcon(ConnectButtonIcon());

        auto* link = group(&f_, "GroupBox1", QStringLiteral("Соед&инение"), 8, 72, 137, 81);
        f_.ComboBox1 = add(new PortComboBox(link, [form = &f_] { form->RefreshPortList(); }), "ComboBox1");
        f_.ComboBox1->setGeometry(8, 16, 121, 21);
        f_.ComboBox1->setEditable(false);
        f_.ComboBox1->setToolTip(QStringLiteral("Выбор последовательного порта"));
        button(link, "Button1", QStringLiteral("У&становки"), 8, 48, 121, 25)
            ->setToolTip(QStringLiteral("Установки соединения (битрейт, контроль потока)"));

        auto* ops = group(&f_, "GroupBox4", QStringLiteral("Операции"), 8, 168, 137, 129);
        // Button3 reads, Button4 writes, Button2 aborts (the names are the device program's own).
        button(ops, "Button3", QStringLiteral("С&читать"), 8, 16, 121, 25)->setEnabled(false);
        button(ops, "Button4", QStringLiteral("За&писать"), 8, 56, 121, 25)->setEnabled(false);
        button(ops, "Button2", QStringLiteral("Пр&ервать"), 8, 96, 121, 25)->setEnabled(false);

        auto* files = group(&f_, "GroupBox9", QString(), 8, 312, 137, 57);
        auto pictureButton = [&](const QString& name, int x, const QString& picture, const QString& hint) {
            auto* b = button(files, name, QString(), x, 18, 25, 25);
            b->setIcon(PictureButtonIcon(picture));
            b->setToolTip(hint);
        };
        pictureButton("BitBtn2", 16, "folder", QStringLiteral("Загрузить..."));
        pictureButton("BitBtn1", 96, "diskette", QStringLiteral("Сохранить как..."));
    }

    void radioPage() {
        auto* page = add(new QWidget, "TabSheet4");
        f_.PageControl1->addTab(page, QStringLiteral("Настройки &радиоканала"));
        auto* g10 = group(page, "GroupBox10", QString(), 0, 0, 433, 329);
        radio(g10, "RS_newpaf_on", 16, 16, 209, QStringLiteral("Работа модуля в режиме PAF или NEWPAF"));
        auto* g6 = group(g10, "GroupBox6", QStringLiteral("Фильтр событий"), 16, 64, 209, 145);
        g6->hide();
        check(g6, "RS_filter_on", 16, 24, 185,
              QStringLiteral("Фильтрация входящих событий для отправки по радиоканалу"));
        bevel(g6, "Bevel1", 16, 48, 177, 2);
        check(g6, "RS_alarm_on", 16, 64, 185,
              QStringLiteral("Разрешить для передачи группу тревожных событий"))
            ->setEnabled(false);
        check(g6, "RS_arm_disarm_on", 16, 88, 185,
              QStringLiteral("Разрешить для передачи группу событий постановки/снятия"))
            ->setEnabled(false);
        check(g6, "RS_other_on", 16, 112, 185,
              QStringLiteral("Разрешить для передачи группу остальных событий"))
            ->setEnabled(false);
        // These labels' hints are their captions.
        const QString packets = qs(fieldOf("RS_packets").caption);
        const QString frames = qs(fieldOf("RS_frames").caption);
        label(g10, "Label19", packets, 240, 16, packets)->hide();
        edit(g10, "RS_packets", 240, 32, 177, packets)->hide();
        label(g10, "Label23", frames, 240, 64, frames)->hide();
        edit(g10, "RS_frames", 240, 80, 177, frames)->hide();
    }

    void linePage() {
        auto* page = add(new QWidget, "TabSheet3");
        f_.PageControl1->addTab(page, QStringLiteral("Настройки &телефонной линии"));
        auto* g11 = group(page, "GroupBox11", QString(), 0, 0, 433, 329);
        auto* g8 = group(g11, "GroupBox8", QStringLiteral("Контроль линии"), 16, 64, 209, 249);
        g8->hide();
        check(g8, "TS_line_ctrl_on", 16, 24, 177,
              QStringLiteral("Включить контроль линии при отсутствии событий и отправку события о "
                             "неисправности по радио"));
        bevel(g8, "Bevel2", 16, 48, 177, 2);
        const QString period = QStringLiteral("Период контроля линии при отсутствии событий, мин. (1-255)");
        fieldLabel(g8, "Label13", "TS_line_ctrl_tm", 16, 64, period);
        edit(g8, "TS_line_ctrl_tm", 16, 80, 177, period);
        auto* g7 = group(g8, "GroupBox7", QStringLiteral("Параметры события о неиспр."), 16, 112, 177, 121);
        const QString object = QStringLiteral("Номер объекта для события о неисправности по радио (0-8191)");
        const QString formatT = QStringLiteral("Формат станции для события о неисправности по радио (Radio "
                                               "Parameter T for PIMA panels) (0-9999)");
        fieldLabel(g7, "Label24", "TS_object_id", 8, 20, object)->setEnabled(false);
        edit(g7, "TS_object_id", 8, 36, 161, object)->setEnabled(false);
        fieldLabel(g7, "Label25", "TS_fmt_radio_t", 8, 68, formatT)->setEnabled(false);
        edit(g7, "TS_fmt_radio_t", 8, 84, 161, formatT)->setEnabled(false);
        radio(g11, "TS_tone_dial_on", 16, 16, 209, QStringLiteral("Импульсный или тоновый набор номера"));
    }

    // Profile 1 starts active with its check box locked; profile 2 inactive with its fields
    // disabled.
    void profilePage(const ProfileControls& p, bool first) {
        auto* page = add(new QWidget, p.page);
        f_.PageControl1->addTab(page, QString::fromUtf8(p.tab));
        const QString activeText = qs(fieldOf(p.active).caption);
        check(page, p.active, 8, 8, 417, activeText)->setEnabled(!first);
        auto* g = group(page, p.group, QString(), 0, 32, 433, 297);
        bevel(g, p.bevel, 216, 24, 2, 257);
        const QString phoneHint = QStringLiteral("Телефонный номер вида 8,,8001234567");
        const int phoneRows[4][2] = {{16, 32}, {61, 77}, {106, 122}, {152, 166}};
        for (int i = 0; i < 4; ++i)
            labelledEdit(g, p.phones[i], 16, phoneRows[i][0], phoneRows[i][1], phoneHint, first);
        radio(g, p.sendPaf, 16, 192, 177, QStringLiteral("Формат передаваемых на ЦС данных"))->hide();
        const QString formatP = QStringLiteral("Формат станции для передачи PAF по телефону (Telephone "
                                               "Parameter P for PIMA panels) (0-255)");
        for (QWidget* w : labelledEdit(g, p.formatP, 16, 240, 256, formatP, false))
            w->hide();
        const struct {
            const char* hint;
            int labelTop, fieldTop;
        } right[6] = {
            {"Число наборов каждого номера в таблице (1-9)", 16, 32},
            {"Число циклов перебора номеров перед паузой/переключением канала (1-9)", 61, 77},
            {"Пауза для текущей ЦС, минуты (0-10)", 106, 122},
            {"Интервал ожидания сигнала HANDSHAKE, секунды (5-30)", 152, 166},
            {"Интервал ожидания сигнала KISSOFF, секунды (1-9)", 197, 211},
            {"Число повторных передач при отсутствии сигнала KISSOFF (0-9)", 240, 256},
        };
        for (int i = 0; i < 6; ++i)
            labelledEdit(g, p.right[i], 240, right[i].labelTop, right[i].fieldTop,
                         QString::fromUtf8(right[i].hint), first);
    }

    void statusBar() {
        f_.StatusBar1 = add(new QStatusBar(&f_), "StatusBar1");
        f_.StatusBar1->setGeometry(0, 380, 611, 21);
        f_.StatusBar1->setSizeGripEnabled(false);
        f_.statusLabel_ = new QLabel(f_.StatusBar1);
        // Device text and file names are shown as they are, never as markup.
        f_.statusLabel_->setTextFormat(Qt::PlainText);
        f_.statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        f_.StatusBar1->addWidget(f_.statusLabel_, 1);
    }

    // ---- One kind of control each ----------------------------------------------------------

    // Every control is found by its given name.
    template <class T> T* add(T* widget, const QString& name) {
        widget->setObjectName(name);
        f_.controls_.insert(name, widget);
        return widget;
    }

    static const FieldSpec& fieldOf(const QString& name) {
        const FieldSpec* f = FindField(name.toStdString());
        if (!f) throw std::logic_error("no field " + name.toStdString());
        return *f;
    }
    static QString qs(std::string_view v) {
        return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
    }

    QGroupBox* group(QWidget* parent, const QString& name, const QString& title, int x, int y, int w, int h) {
        auto* g = add(new QGroupBox(title, parent), name);
        g->setGeometry(x, y, w, h);
        return g;
    }
    QPushButton* button(QWidget* parent, const QString& name, const QString& text, int x, int y, int w,
                        int h) {
        auto* b = add(new QPushButton(text, parent), name);
        b->setGeometry(x, y, w, h);
        // Enter presses the focused button, as Space does (outside a dialog Qt leaves it off).
        b->setAutoDefault(true);
        return b;
    }
    QLabel* label(QWidget* parent, const QString& name, const QString& text, int x, int y,
                  const QString& hint) {
        auto* l = add(new QLabel(text, parent), name);
        l->move(x, y);
        l->adjustSize();
        l->setToolTip(hint);
        return l;
    }
    // A field's label carries the field's caption.
    QLabel* fieldLabel(QWidget* parent, const QString& name, const QString& field, int x, int y,
                       const QString& hint) {
        return label(parent, name, qs(fieldOf(field).caption), x, y, hint);
    }
    TEdit* edit(QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* e = add(new TEdit(parent, f.limit), name);
        e->setGeometry(x, y, w, 21);
        e->setText(qs(f.initial));
        e->setToolTip(hint);
        return e;
    }
    // A field 177 pixels wide under its label, both with the same hint.
    std::array<QWidget*, 2> labelledEdit(QWidget* parent, const LabelledField& c, int x, int labelTop,
                                         int fieldTop, const QString& hint, bool enabled) {
        QLabel* l = fieldLabel(parent, c.label, c.field, x, labelTop, hint);
        TEdit* e = edit(parent, c.field, x, fieldTop, 177, hint);
        l->setEnabled(enabled);
        e->setEnabled(enabled);
        return {l, e};
    }
    QCheckBox* check(QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* c = add(new QCheckBox(qs(f.caption), parent), name);
        c->setGeometry(x, y, w, 17);
        c->setToolTip(hint);
        c->setChecked(f.initial == "1");
        return c;
    }
    TRadioGroup* radio(QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* r = add(new TRadioGroup(parent, qs(f.caption), qs(f.items[0]), qs(f.items[1])), name);
        r->setGeometry(x, y, w, 41);
        r->setToolTip(hint);
        r->item(0)->setGeometry(8, 16, w / 2 - 12, 17);
        r->item(1)->setGeometry(w / 2, 16, w / 2 - 8, 17);
        r->setItemIndex(f.initial == "1" ? 1 : 0);
        return r;
    }
    QFrame* bevel(QWidget* parent, const QString& name, int x, int y, int w, int h) {
        auto* b = add(new QFrame(parent), name);
        b->setFrameShape(w > h ? QFrame::HLine : QFrame::VLine);
        b->setFrameShadow(QFrame::Sunken);
        b->setGeometry(x, y, w, h);
        return b;
    }

    TForm1& f_;
};

void TForm1::createControls() {
    Layout(*this).build();
}

} // namespace tk7v
