// The window's life: its controls made and wired, the start-up of FormCreate, and the release of
// the link when it closes.
#include "ui/tform1.h"

#include "link/port_list.h"
#include "ui/controls.h"
#include "ui/guide.h"
#include "ui/window_host.h"
#include "ui/window_style.h"
#include "ui/window_wake.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QUrl>

namespace tk7v {

QPointer<TForm1> Form1;

TForm1::TForm1(TForm1Environment env, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      env_(std::move(env)), wake_(new WindowWake(this, [this] { handoffs_.drain(); })),
      handoffs_([wake = wake_] { wake->wake(); }) {
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
    setWindowIcon(WindowIcon());

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

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    FormDestroy();
}

void TForm1::FormDestroy() {
    if (pngTimer_) pngTimer_->stop();
    link_->shutdown();
}

} // namespace tk7v
