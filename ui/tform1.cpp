#include "ui/tform1.h"

#include "link/port_list.h"
#include "ui/controls.h"
#include "ui/guide.h"
#include "ui/version_info.h"
#include "ui/window_host.h"
#include "ui/window_wake.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyleOptionTab>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>

static void initPictures() {
    Q_INIT_RESOURCE(resources);
}

namespace tk7v {

QPointer<TForm1> Form1;

namespace {

const QString kPhoneHint = QStringLiteral("Телефонный номер вида 8,,8001234567");

// The button pictures key out the colour of their bottom-left pixel, as the device's original
// buttons did. The window icon keeps every pixel: its dark frame is part of it.
QPixmap picture(const QString& name, bool keyed = true) {
    QImage image =
        QImage(QStringLiteral(":/pictures/%1.xpm").arg(name)).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() || !keyed) return QPixmap::fromImage(image);
    const QRgb key = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == key) image.setPixel(x, y, qRgba(0, 0, 0, 0));
    return QPixmap::fromImage(image);
}

// The tab under the mouse is drawn in the hot-tracking colour, as the platform the design comes
// from does; Qt's Windows style leaves it plain.
class HotTrackStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        if (element == CE_TabBarTabLabel && tab && (tab->state & State_MouseOver) &&
            (tab->state & State_Enabled)) {
            QStyleOptionTab hot(*tab);
            hot.palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
            hot.palette.setColor(QPalette::ButtonText, QColor(0, 0, 255));
            QProxyStyle::drawControl(element, &hot, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

// Wraps the model's view of the controls around the window's widgets.
class WidgetControls : public ControlAccess {
public:
    explicit WidgetControls(const TForm1& form) : form_(form) {}
    std::string text(std::string_view c) const override { return edit(c)->text().toStdString(); }
    void setText(std::string_view c, const std::string& t) override {
        edit(c)->setText(QString::fromStdString(t));
    }
    bool checked(std::string_view c) const override { return check(c)->isChecked(); }
    void setChecked(std::string_view c, bool on) override { check(c)->setChecked(on); }
    int itemIndex(std::string_view c) const override { return radio(c)->itemIndex(); }
    void setItemIndex(std::string_view c, int i) override { radio(c)->setItemIndex(i); }

private:
    template <class T> T* find(std::string_view c) const {
        T* w = form_.control<T>(QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size())));
        if (!w) throw std::logic_error("no control " + std::string(c));
        return w;
    }
    QLineEdit* edit(std::string_view c) const { return find<QLineEdit>(c); }
    QCheckBox* check(std::string_view c) const { return find<QCheckBox>(c); }
    TRadioGroup* radio(std::string_view c) const { return find<TRadioGroup>(c); }
    const TForm1& form_;
};

} // namespace

template <class T> T* TForm1::add(T* widget, const QString& name) {
    widget->setObjectName(name);
    controls_.insert(name, widget);
    return widget;
}

TForm1::TForm1(TForm1Environment env, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      env_(std::move(env)), wake_(new WindowWake(this, [this] { handoffs_.drain(); })),
      handoffs_([wake = wake_] { wake->wake(); }) {
    initPictures();
    host_ = std::make_unique<WindowHost>(*this);
    link_ = std::make_unique<DeviceLink>(*host_);
    if (!env_.dialogs) ownDialogs_ = std::make_unique<QtDialogs>();
    dialogs_ = env_.dialogs ? env_.dialogs : ownDialogs_.get();
    if (!env_.listPorts) env_.listPorts = ListPorts;
    if (!env_.portPath) env_.portPath = PortPath;
    if (!env_.openSettings) env_.openSettings = [] { return std::make_unique<UserSettings>(); };
    if (!env_.guide) env_.guide = InstalledGuide(QCoreApplication::applicationDirPath());
    if (!env_.openUrl) env_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    setObjectName("Form1");
    setWindowTitle(kAppTitle);
    setFixedSize(611, 401);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    QIcon icon;
    icon.addPixmap(picture("icon16", false));
    icon.addPixmap(picture("icon32", false));
    setWindowIcon(icon);

    createControls();
    FormCreate();
    connectHandlers();
    qApp->installEventFilter(this);
    // Anywhere in the window, whichever control has the focus.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, &TForm1::ShowGuide);
}

void TForm1::ShowGuide() {
    if (!env_.guide->isEmpty()) env_.openUrl(QUrl::fromLocalFile(*env_.guide));
}

void TForm1::createControls() {
    auto group = [&](QWidget* parent, const QString& name, const QString& title, int x, int y, int w, int h) {
        auto* g = add(new QGroupBox(title, parent), name);
        g->setGeometry(x, y, w, h);
        return g;
    };
    auto button = [&](QWidget* parent, const QString& name, const QString& text, int x, int y, int w, int h) {
        auto* b = add(new QPushButton(text, parent), name);
        b->setGeometry(x, y, w, h);
        // Enter presses the focused button, as Space does (outside a dialog Qt leaves it off).
        b->setAutoDefault(true);
        return b;
    };
    auto label = [&](QWidget* parent, const QString& name, const QString& text, int x, int y,
                     const QString& hint) {
        auto* l = add(new QLabel(text, parent), name);
        l->move(x, y);
        l->adjustSize();
        l->setToolTip(hint);
        return l;
    };
    // The parameter controls take their caption, limit, items and start-up value from the
    // image's layout table.
    auto fieldOf = [](const QString& name) -> const FieldSpec& {
        const FieldSpec* f = FindField(name.toStdString());
        if (!f) throw std::logic_error("no field " + name.toStdString());
        return *f;
    };
    auto qs = [](std::string_view v) {
        return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
    };
    auto edit = [&](QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* e = add(new TEdit(parent, f.limit), name);
        e->setGeometry(x, y, w, 21);
        e->setText(qs(f.initial));
        e->setToolTip(hint);
        return e;
    };
    auto check = [&](QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* c = add(new QCheckBox(qs(f.caption), parent), name);
        c->setGeometry(x, y, w, 17);
        c->setToolTip(hint);
        c->setChecked(f.initial == "1");
        return c;
    };
    auto radio = [&](QWidget* parent, const QString& name, int x, int y, int w, const QString& hint) {
        const FieldSpec& f = fieldOf(name);
        auto* r = add(new TRadioGroup(parent, qs(f.caption), qs(f.items[0]), qs(f.items[1])), name);
        r->setGeometry(x, y, w, 41);
        r->setToolTip(hint);
        r->item(0)->setGeometry(8, 16, w / 2 - 12, 17);
        r->item(1)->setGeometry(w / 2, 16, w / 2 - 8, 17);
        r->setItemIndex(f.initial == "1" ? 1 : 0);
        return r;
    };
    // A field's label carries the field's caption.
    auto fieldLabel = [&](QWidget* parent, const QString& name, const QString& field, int x, int y,
                          const QString& hint) {
        return label(parent, name, qs(fieldOf(field).caption), x, y, hint);
    };
    auto bevel = [&](QWidget* parent, const QString& name, int x, int y, int w, int h) {
        auto* f = add(new QFrame(parent), name);
        f->setFrameShape(w > h ? QFrame::HLine : QFrame::VLine);
        f->setFrameShadow(QFrame::Sunken);
        f->setGeometry(x, y, w, h);
        return f;
    };

    // Left column.
    auto* work = group(this, "GroupBox5", QStringLiteral("Работа"), 8, 8, 137, 49);
    SpeedButton1 = button(work, "SpeedButton1", QStringLiteral("Под&ключиться"), 8, 16, 121, 25);
    SpeedButton1->setCheckable(true);
    // A picture toggle never takes the focus: a stray Space must not connect or disconnect.
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setAutoDefault(false);
    QIcon connectIcon;
    connectIcon.addPixmap(picture("connect_up"), QIcon::Normal, QIcon::Off);
    connectIcon.addPixmap(picture("connect_up"), QIcon::Active, QIcon::Off);
    connectIcon.addPixmap(picture("connect_disabled"), QIcon::Disabled, QIcon::Off);
    connectIcon.addPixmap(picture("connect_disabled"), QIcon::Disabled, QIcon::On);
    connectIcon.addPixmap(picture("connect_down"), QIcon::Normal, QIcon::On);
    connectIcon.addPixmap(picture("connect_down"), QIcon::Active, QIcon::On);
    SpeedButton1->setIcon(connectIcon);

    auto* link = group(this, "GroupBox1", QStringLiteral("Соед&инение"), 8, 72, 137, 81);
    ComboBox1 = add(new QComboBox(link), "ComboBox1");
    ComboBox1->setGeometry(8, 16, 121, 21);
    ComboBox1->setEditable(false);
    ComboBox1->setToolTip(QStringLiteral("Выбор последовательного порта"));
    button(link, "Button1", QStringLiteral("У&становки"), 8, 48, 121, 25)
        ->setToolTip(QStringLiteral("Установки соединения (битрейт, контроль потока)"));

    auto* ops = group(this, "GroupBox4", QStringLiteral("Операции"), 8, 168, 137, 129);
    // Button3 reads, Button4 writes, Button2 aborts (the names are the device program's own).
    button(ops, "Button3", QStringLiteral("С&читать"), 8, 16, 121, 25)->setEnabled(false);
    button(ops, "Button4", QStringLiteral("За&писать"), 8, 56, 121, 25)->setEnabled(false);
    button(ops, "Button2", QStringLiteral("Пр&ервать"), 8, 96, 121, 25)->setEnabled(false);

    auto* files = group(this, "GroupBox9", QString(), 8, 312, 137, 57);
    auto pictureButton = [&](const QString& name, int x, const QString& pic, const QString& hint) {
        auto* b = button(files, name, QString(), x, 18, 25, 25);
        QIcon i;
        i.addPixmap(picture(pic), QIcon::Normal);
        i.addPixmap(picture(pic + "_disabled"), QIcon::Disabled);
        b->setIcon(i);
        b->setToolTip(hint);
    };
    pictureButton("BitBtn2", 16, "folder", QStringLiteral("Загрузить..."));
    pictureButton("BitBtn1", 96, "diskette", QStringLiteral("Сохранить как..."));

    PageControl1 = add(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(160, 8, 441, 361);
    PageControl1->setFocusPolicy(Qt::NoFocus);
    PageControl1->tabBar()->setFocusPolicy(Qt::NoFocus);
    PageControl1->tabBar()->setAttribute(Qt::WA_Hover);
    auto* hotTrack = new HotTrackStyle;
    hotTrack->setParent(PageControl1->tabBar());
    PageControl1->tabBar()->setStyle(hotTrack);

    // Page 1: radio channel.
    auto* radioPage = add(new QWidget, "TabSheet4");
    PageControl1->addTab(radioPage, QStringLiteral("Настройки &радиоканала"));
    auto* g10 = group(radioPage, "GroupBox10", QString(), 0, 0, 433, 329);
    radio(g10, "RS_newpaf_on", 16, 16, 209, QStringLiteral("Работа модуля в режиме PAF или NEWPAF"));
    auto* g6 = group(g10, "GroupBox6", QStringLiteral("Фильтр событий"), 16, 64, 209, 145);
    g6->hide();
    check(g6, "RS_filter_on", 16, 24, 185,
          QStringLiteral("Фильтрация входящих событий для отправки по радиоканалу"));
    bevel(g6, "Bevel1", 16, 48, 177, 2);
    check(g6, "RS_alarm_on", 16, 64, 185, QStringLiteral("Разрешить для передачи группу тревожных событий"))
        ->setEnabled(false);
    check(g6, "RS_arm_disarm_on", 16, 88, 185,
          QStringLiteral("Разрешить для передачи группу событий постановки/снятия"))
        ->setEnabled(false);
    check(g6, "RS_other_on", 16, 112, 185, QStringLiteral("Разрешить для передачи группу остальных событий"))
        ->setEnabled(false);
    // These labels' hints are their captions.
    const QString packets = qs(fieldOf("RS_packets").caption);
    const QString frames = qs(fieldOf("RS_frames").caption);
    label(g10, "Label19", packets, 240, 16, packets)->hide();
    edit(g10, "RS_packets", 240, 32, 177, packets)->hide();
    label(g10, "Label23", frames, 240, 64, frames)->hide();
    edit(g10, "RS_frames", 240, 80, 177, frames)->hide();

    // Page 2: telephone line.
    auto* linePage = add(new QWidget, "TabSheet3");
    PageControl1->addTab(linePage, QStringLiteral("Настройки &телефонной линии"));
    auto* g11 = group(linePage, "GroupBox11", QString(), 0, 0, 433, 329);
    auto* g8 = group(g11, "GroupBox8", QStringLiteral("Контроль линии"), 16, 64, 209, 249);
    g8->hide();
    check(g8, "TS_line_ctrl_on", 16, 24, 177,
          QStringLiteral(
              "Включить контроль линии при отсутствии событий и отправку события о неисправности по радио"));
    bevel(g8, "Bevel2", 16, 48, 177, 2);
    const QString period = QStringLiteral("Период контроля линии при отсутствии событий, мин. (1-255)");
    fieldLabel(g8, "Label13", "TS_line_ctrl_tm", 16, 64, period);
    edit(g8, "TS_line_ctrl_tm", 16, 80, 177, period);
    auto* g7 = group(g8, "GroupBox7", QStringLiteral("Параметры события о неиспр."), 16, 112, 177, 121);
    const QString object = QStringLiteral("Номер объекта для события о неисправности по радио (0-8191)");
    const QString formatT = QStringLiteral(
        "Формат станции для события о неисправности по радио (Radio Parameter T for PIMA panels) (0-9999)");
    fieldLabel(g7, "Label24", "TS_object_id", 8, 20, object)->setEnabled(false);
    edit(g7, "TS_object_id", 8, 36, 161, object)->setEnabled(false);
    fieldLabel(g7, "Label25", "TS_fmt_radio_t", 8, 68, formatT)->setEnabled(false);
    edit(g7, "TS_fmt_radio_t", 8, 84, 161, formatT)->setEnabled(false);
    radio(g11, "TS_tone_dial_on", 16, 16, 209, QStringLiteral("Импульсный или тоновый набор номера"));

    // Pages 3 and 4: the two central-station profiles, one shape.
    struct ProfileNames {
        const char* page;
        const char* tab;
        const char* prefix;
        const char* group;
        const char* bevel;
        const char* labels[11]; // phone 1-4, fmt_tel_p, dial_each_n .. send_repeats
        bool first;
    };
    const ProfileNames profiles[] = {
        {"TabSheet1",
         "ЦС №&1",
         "CS1_",
         "GroupBox3",
         "Bevel3",
         {"Label1", "Label3", "Label4", "Label10", "Label26", "Label2", "Label7", "Label5", "Label11",
          "Label9", "Label8"},
         true},
        {"TabSheet2",
         "ЦС №&2",
         "CS2_",
         "GroupBox2",
         "Bevel4",
         {"Label6", "Label14", "Label15", "Label21", "Label27", "Label12", "Label17", "Label16", "Label22",
          "Label20", "Label18"},
         false},
    };
    for (const ProfileNames& p : profiles) {
        const QString prefix = p.prefix;
        auto* page = add(new QWidget, p.page);
        PageControl1->addTab(page, QString::fromUtf8(p.tab));
        const QString activeText = qs(fieldOf(prefix + "active").caption);
        auto* active = check(page, prefix + "active", 8, 8, 417, activeText);
        active->setEnabled(!p.first);
        auto* g = group(page, p.group, QString(), 0, 32, 433, 297);
        bevel(g, p.bevel, 216, 24, 2, 257);
        const bool fields = p.first; // profile 2's fields start disabled
        const int phoneRows[4][2] = {{16, 32}, {61, 77}, {106, 122}, {152, 166}};
        for (int i = 0; i < 4; ++i) {
            const QString phone = prefix + QStringLiteral("phone_%1").arg(i + 1);
            fieldLabel(g, p.labels[i], phone, 16, phoneRows[i][0], kPhoneHint)->setEnabled(fields);
            edit(g, phone, 16, phoneRows[i][1], 177, kPhoneHint)->setEnabled(fields);
        }
        radio(g, prefix + "send_paf", 16, 192, 177, QStringLiteral("Формат передаваемых на ЦС данных"))
            ->hide();
        const QString formatP = QStringLiteral(
            "Формат станции для передачи PAF по телефону (Telephone Parameter P for PIMA panels) (0-255)");
        auto* lp = fieldLabel(g, p.labels[4], prefix + "fmt_tel_p", 16, 240, formatP);
        lp->setEnabled(false);
        lp->hide();
        auto* fp = edit(g, prefix + "fmt_tel_p", 16, 256, 177, formatP);
        fp->setEnabled(false);
        fp->hide();
        const struct {
            const char* field;
            const char* hint;
            int labelTop, fieldTop;
        } right[] = {
            {"dial_each_n", "Число наборов каждого номера в таблице (1-9)", 16, 32},
            {"dial_cycles", "Число циклов перебора номеров перед паузой/переключением канала (1-9)", 61, 77},
            {"dial_pause", "Пауза для текущей ЦС, минуты (0-10)", 106, 122},
            {"hand_time", "Интервал ожидания сигнала HANDSHAKE, секунды (5-30)", 152, 166},
            {"kissoff_time", "Интервал ожидания сигнала KISSOFF, секунды (1-9)", 197, 211},
            {"send_repeats", "Число повторных передач при отсутствии сигнала KISSOFF (0-9)", 240, 256},
        };
        for (int i = 0; i < 6; ++i) {
            const QString hint = QString::fromUtf8(right[i].hint);
            const QString field = prefix + right[i].field;
            fieldLabel(g, p.labels[5 + i], field, 240, right[i].labelTop, hint)->setEnabled(fields);
            edit(g, field, 240, right[i].fieldTop, 177, hint)->setEnabled(fields);
        }
    }
    PageControl1->setTabVisible(3, false);
    PageControl1->setCurrentIndex(0);

    StatusBar1 = add(new QStatusBar(this), "StatusBar1");
    StatusBar1->setGeometry(0, 380, 611, 21);
    StatusBar1->setSizeGripEnabled(false);
    statusLabel_ = new QLabel(StatusBar1);
    // Device text and file names are shown as they are, never as markup.
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(statusLabel_, 1);
}

void TForm1::connectHandlers() {
    connect(control<QCheckBox>("CS1_active"), &QCheckBox::toggled, this, &TForm1::CS1_activeClick);
    connect(control<QCheckBox>("CS2_active"), &QCheckBox::toggled, this, &TForm1::CS2_activeClick);
    connect(control<TRadioGroup>("CS1_send_paf"), &TRadioGroup::clicked, this, &TForm1::CS1_send_pafClick);
    connect(control<TRadioGroup>("CS2_send_paf"), &TRadioGroup::clicked, this, &TForm1::CS2_send_pafClick);
    connect(control<QCheckBox>("TS_line_ctrl_on"), &QCheckBox::toggled, this, &TForm1::TS_line_ctrl_onClick);
    connect(control<QCheckBox>("RS_filter_on"), &QCheckBox::toggled, this, &TForm1::RS_filter_onClick);
    connect(SpeedButton1, &QPushButton::clicked, this, &TForm1::OpenCloseComm);
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    connect(control<QPushButton>("Button1"), &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(control<QPushButton>("Button2"), &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(control<QPushButton>("Button3"), &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(control<QPushButton>("Button4"), &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(control<QPushButton>("BitBtn1"), &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(control<QPushButton>("BitBtn2"), &QPushButton::clicked, this, &TForm1::BitBtn2Click);
}

void TForm1::FormCreate() {
    SettingsRegistry = env_.openSettings();
    int saved = 0;
    SettingsRegistry->LoadSetting(QStringLiteral("ComboBox1"), saved);
    FillPortList(saved);
    ParameterImage_ = std::make_unique<ParameterImage>();
    BuildImage();
    Connected = false;
    PortConfig_ = PortConfig{};
    UpdateCaption();
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_) return;
    centred_ = true;
    if (const QScreen* s = screen()) {
        QRect r = frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
}

// ---- Status bar ------------------------------------------------------------------------------

void TForm1::setStatusText(const QString& text, bool copyToHint) {
    if (!figureStep_ && pictureAnimationRunning()) pngTimer_->stop();
    statusLabel_->setText(text);
    if (copyToHint) StatusBar1->setToolTip(text);
    emit statusChanged(text);
}

void TForm1::PostStatus(const QString& text) {
    setStatusText(text, true);
}

QString TForm1::statusText() const {
    return statusLabel_->text();
}

// ---- Parameter image -------------------------------------------------------------------------

bool TForm1::BuildImage() {
    WidgetControls controls(*this);
    const CodecResult r = tk7v::BuildImage(controls, *ParameterImage_);
    return r.ok || ReportCodecError(CodecStage::Build, r.message);
}

bool TForm1::ApplyImage() {
    WidgetControls controls(*this);
    const CodecResult r = tk7v::ApplyImage(*ParameterImage_, controls);
    return r.ok || ReportCodecError(CodecStage::Apply, r.message);
}

bool TForm1::ReportCodecError(CodecStage stage, const std::string& failure) {
    const QString text = QString::fromStdString(CodecErrorText(stage, failure));
    PostStatus(text);
    dialogs_->error(this, text);
    if (control("Button2")->isEnabled()) Button2Click();
    return false;
}

// ---- Caption ---------------------------------------------------------------------------------

void TForm1::UpdateCaption(const std::optional<QString>& document) {
    const QString program = QCoreApplication::applicationFilePath();
    QString caption =
        QStringLiteral("Конфигуратор ТК-7В v") + GetVersionValue(program, QStringLiteral("FileVersion"));
    if (document) {
        const QString full = QFileInfo(*document).absoluteFilePath();
        const auto folderOf = [](const QString& path) {
            return path.left(path.lastIndexOf('/') + 1).toLower();
        };
        const bool besideProgram = folderOf(full) == folderOf(program);
        caption += QStringLiteral(" - ") + (besideProgram ? QFileInfo(full).fileName() : full);
    }
    setWindowTitle(caption);
}

// ---- Enabling rules --------------------------------------------------------------------------

namespace {

void enable(const TForm1& f, std::initializer_list<const char*> names, bool on) {
    for (const char* n : names)
        f.control(QString::fromLatin1(n))->setEnabled(on);
}

} // namespace

void TForm1::CS1_activeClick() {
    const bool a = control<QCheckBox>("CS1_active")->isChecked();
    enable(*this,
           {"CS2_active", "GroupBox3", "Label1", "CS1_phone_1", "Label3", "CS1_phone_2", "Label4",
            "CS1_phone_3", "Label10", "CS1_phone_4", "CS1_send_paf"},
           a);
    enable(*this, {"Label26", "CS1_fmt_tel_p"}, a && control<TRadioGroup>("CS1_send_paf")->itemIndex() == 1);
    enable(*this,
           {"Label2", "CS1_dial_each_n", "Label7", "CS1_dial_cycles", "Label5", "CS1_dial_pause", "Label11",
            "CS1_hand_time", "Label9", "CS1_kissoff_time", "Label8", "CS1_send_repeats"},
           a);
}

void TForm1::CS2_activeClick() {
    const bool b = control<QCheckBox>("CS2_active")->isChecked();
    enable(*this,
           {"CS1_active", "GroupBox2", "Label6", "CS2_phone_1", "Label14", "CS2_phone_2", "Label15",
            "CS2_phone_3", "Label21", "CS2_phone_4", "CS2_send_paf"},
           b);
    enable(*this, {"Label27", "CS2_fmt_tel_p"}, b && control<TRadioGroup>("CS2_send_paf")->itemIndex() == 1);
    enable(*this,
           {"Label12", "CS2_dial_each_n", "Label17", "CS2_dial_cycles", "Label16", "CS2_dial_pause",
            "Label22", "CS2_hand_time", "Label20", "CS2_kissoff_time", "Label18", "CS2_send_repeats"},
           b);
}

void TForm1::CS1_send_pafClick() {
    enable(*this, {"Label26", "CS1_fmt_tel_p"}, control<TRadioGroup>("CS1_send_paf")->itemIndex() == 1);
}

void TForm1::CS2_send_pafClick() {
    enable(*this, {"Label27", "CS2_fmt_tel_p"}, control<TRadioGroup>("CS2_send_paf")->itemIndex() == 1);
}

void TForm1::TS_line_ctrl_onClick() {
    enable(
        *this,
        {"Label13", "TS_line_ctrl_tm", "GroupBox7", "Label24", "TS_object_id", "Label25", "TS_fmt_radio_t"},
        control<QCheckBox>("TS_line_ctrl_on")->isChecked());
}

void TForm1::RS_filter_onClick() {
    enable(*this, {"RS_alarm_on", "RS_arm_disarm_on", "RS_other_on"},
           control<QCheckBox>("RS_filter_on")->isChecked());
}

// ---- Page switching --------------------------------------------------------------------------

bool TForm1::WheelMovesForward(int delta) {
    return static_cast<quint16>(delta) > 0x7F00;
}

void TForm1::SelectNextPage(bool forward) {
    const int count = PageControl1->count();
    const int start = PageControl1->currentIndex();
    for (int step = 1; step < count; ++step) {
        const int i = ((forward ? start + step : start - step) % count + count) % count;
        if (PageControl1->isTabVisible(i)) {
            PageControl1->setCurrentIndex(i);
            return;
        }
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        // The window takes every turn of the wheel for itself: it switches pages.
        const auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->angleDelta().y() != 0) SelectNextPage(WheelMovesForward(wheel->angleDelta().y()));
        return true;
    }
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool ctrl = key->modifiers() & Qt::ControlModifier;
        if (ctrl && (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            PageControl1->isAncestorOf(widget)) {
            SelectNextPage(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        break;
    }
    case QEvent::ToolTip:
        if (watched == StatusBar1) {
            // The hint is the status text, plain like the bar itself.
            const auto* help = static_cast<QHelpEvent*>(event);
            const QString tip = StatusBar1->toolTip();
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(tip, Qt::WhiteSpaceNoWrap),
                                   StatusBar1);
            return true;
        }
        break;
    case QEvent::Shortcut:
        // A group box's accelerator moves the focus to its first control, not to the one that
        // had it last.
        if (auto* group = qobject_cast<QGroupBox*>(watched);
            group && static_cast<QShortcutEvent*>(event)->key() == QKeySequence::mnemonic(group->title())) {
            for (QWidget* w = group->nextInFocusChain(); w != group && group->isAncestorOf(w);
                 w = w->nextInFocusChain()) {
                if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
                    w->setFocus(Qt::ShortcutFocusReason);
                    return true;
                }
            }
        }
        // The hidden page's accelerator must not select it.
        if (watched == PageControl1->tabBar()) {
            const auto* s = static_cast<QShortcutEvent*>(event);
            for (int i = 0; i < PageControl1->count(); ++i)
                if (!PageControl1->isTabVisible(i) &&
                    s->key() == QKeySequence::mnemonic(PageControl1->tabText(i)))
                    return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tk7v
