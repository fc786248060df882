// The station window's setup: what is written, from which list or counter, where the ledger and
// the report are, and what is remembered of it between runs.
#include "link/config_read.h"
#include "station_window.h"

#include "window_common.h"

#include "link/port_names.h"
#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/run_session.h"
#include "station/server_ledger.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace tk7v::station_window {

QString DefaultLedger() {
    // The library's, which tk7v-cli keeps too: both find the same file.
    return QDir::toNativeSeparators(fromUtf8(station::DefaultLedger()));
}

namespace {

// The report a station day writes when none was chosen: named by the date, in the user's
// documents, appended to by every run of the day.
QString dailyReport(const QString& folder) {
    // Shown and remembered with the system's separators, as a chosen file is.
    return QDir::toNativeSeparators(QDir(folder).filePath(
        QStringLiteral("Станция ТК-7В %1.csv").arg(QDate::currentDate().toString(Qt::ISODate))));
}

// The name the system's list gives a port the user named by its path or in other letters
// ("/dev/ttyUSB0", "com3"): one tile per port, however it was named on the command line.
QString listedName(const QString& given) {
#ifdef Q_OS_WIN
    const QString device = QStringLiteral("\\\\.\\");
    const QString name = given.startsWith(device) ? given.mid(device.size()) : given;
    if (const auto accepted = AcceptWindowsPortName(utf8(name))) return fromUtf8(*accepted);
#else
    const QString dev = QStringLiteral("/dev/");
    if (given.startsWith(dev) && !given.mid(dev.size()).contains('/')) return given.mid(dev.size());
#endif
    return given;
}

} // namespace

void StationWindow::buildSetup(QWidget* parent, QVBoxLayout* column) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    const auto choose = [parent](void (StationWindow::*pick)(), StationWindow* self) {
        auto* b = new QPushButton(QStringLiteral("Выбрать…"), parent);
        connect(b, &QPushButton::clicked, self, pick);
        return b;
    };
    const auto label = [parent](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, parent);
        l->setBuddy(buddy);
        return l;
    };
    file_ = new QLineEdit(parent);
    file_->setPlaceholderText(QStringLiteral("файл *.cfg, который записывается в каждое устройство"));
    summary_ = new QLabel(parent);
    summary_->setWordWrap(true);
    tablePath_ = new QLineEdit(parent);
    tablePath_->setPlaceholderText(QStringLiteral("необязательно: каждому устройству следующая строка"));
    number_ = new QLineEdit(parent);
    number_->setPlaceholderText(QStringLiteral("необязательно, например TS_object_id=101-150"));
    report_ = new QLineEdit(parent);
    report_->setToolTip(QStringLiteral("Запись о каждом устройстве; по умолчанию новый файл на каждый день"));
    ledgerPath_ = new QLineEdit(parent);
    ledgerPath_->setToolTip(QStringLiteral(
        "Какие номера и строки списка уже выданы: один файл на все дни (можно общий для нескольких "
        "станций, в общей папке), чтобы номер не повторился никогда; для станций на нескольких "
        "компьютерах — сервер PostgreSQL: postgresql://пользователь@сервер/база (пароль — в ~/.pgpass "
        "или PGPASSWORD)"));
    baud_ = new QComboBox(parent);
    baud_->addItems(kRates);
    baud_->setCurrentText(QStringLiteral("9600"));

    grid->addWidget(label(QStringLiteral("&Конфигурация:"), file_), 0, 0);
    grid->addWidget(file_, 0, 1);
    grid->addWidget(choose(&StationWindow::chooseFile, this), 0, 2);
    grid->addWidget(summary_, 0, 3, 1, 2);
    grid->addWidget(label(QStringLiteral("С&писок (CSV):"), tablePath_), 1, 0);
    grid->addWidget(tablePath_, 1, 1);
    grid->addWidget(choose(&StationWindow::chooseTable, this), 1, 2);
    grid->addWidget(label(QStringLiteral("&Номера:"), number_), 1, 3);
    grid->addWidget(number_, 1, 4);
    grid->addWidget(label(QStringLiteral("&Отчёт:"), report_), 2, 0);
    grid->addWidget(report_, 2, 1);
    grid->addWidget(choose(&StationWindow::chooseReport, this), 2, 2);
    grid->addWidget(label(QStringLiteral("&Скорость, бод:"), baud_), 2, 3);
    grid->addWidget(baud_, 2, 4, Qt::AlignLeft);
    grid->addWidget(label(QStringLiteral("&Учёт номеров:"), ledgerPath_), 3, 0);
    grid->addWidget(ledgerPath_, 3, 1);
    grid->addWidget(choose(&StationWindow::chooseLedger, this), 3, 2);
#ifdef TK7V_HAVE_LABELS
    buildLabelsRow(parent, grid, 4);
#endif
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(4, 2);
    // While the station runs the setup cannot change: one line says what it is, and the tiles
    // get the room.
    setup_ = new QWidget(parent);
    setup_->setLayout(grid);
    grid->setContentsMargins(0, 0, 0, 0);
    runningSetup_ = new QLabel(parent);
    runningSetup_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    runningSetup_->hide();
    column->addWidget(setup_);
    column->addWidget(runningSetup_);
    connect(file_, &QLineEdit::editingFinished, this, &StationWindow::showSummary);
}

// ---- settings ----------------------------------------------------------------------------------

void StationWindow::loadSettings(const StartWith& start) {
    QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    file_->setText(start.file.isEmpty() ? s.value("file").toString() : start.file);
    tablePath_->setText(start.values.isEmpty() ? s.value("values").toString() : start.values);
    number_->setText(start.number.isEmpty() ? s.value("number").toString() : start.number);
    const QString folder = s.value("reportFolder", Documents()).toString();
    report_->setText(start.report.isEmpty() ? dailyReport(folder) : start.report);
    const QString ledger = s.value("ledger", DefaultLedger()).toString();
    ledgerPath_->setText(start.ledger.isEmpty() ? ledger : start.ledger);
    const QString rate = s.value("baud", "9600").toString();
    if (kRates.contains(rate)) baud_->setCurrentText(rate);
    portsGiven_ = !start.ports.isEmpty();
    QStringList given;
    for (const QString& p : start.ports)
        given << listedName(p);
    const QStringList chosen = portsGiven_ ? given : s.value("ports").toStringList();
    const bool remembered = portsGiven_ || s.contains("ports");
    for (const std::string& name : env_.listPorts())
        addTile(fromUtf8(name), !remembered || chosen.contains(fromUtf8(name)));
    // Ports named that the system does not list now take part as soon as they appear.
    if (portsGiven_)
        for (const QString& p : given)
            if (!tile(p)) addTile(p, true)->setPresent(false);
    showSummary();
}

void StationWindow::saveSettings() const {
    QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    // A path typed relative to the folder the window was started from means nothing from
    // another: the settings keep it whole.
    const auto whole = [](const QString& path) {
        return path.isEmpty() ? path : QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    };
    s.setValue("file", whole(file_->text()));
    s.setValue("values", whole(tablePath_->text()));
    s.setValue("number", number_->text());
    if (!report_->text().isEmpty()) s.setValue("reportFolder", QFileInfo(report_->text()).absolutePath());
    const QString ledger = ledgerPath_->text();
    if (!ledger.isEmpty())
        s.setValue("ledger", station::IsServerAddress(utf8(ledger))
                                 ? fromUtf8(station::AddressWithoutSecrets(utf8(ledger)))
                                 : whole(ledger));
    s.setValue("baud", baud_->currentText());
#ifdef TK7V_HAVE_LABELS
    saveLabelSettings();
#endif
    QStringList ports;
    for (PortTile* t : tiles_)
        if (t->takePart()->isChecked()) ports << t->port();
    s.setValue("ports", ports);
    s.setValue("geometry", saveGeometry());
}

// ---- setup -------------------------------------------------------------------------------------

void StationWindow::chooseFile() {
    const QString dir = file_->text().isEmpty() ? Documents() : QFileInfo(file_->text()).absolutePath();
    const QString f = asks_.openFile(this, QStringLiteral("Файл конфигурации"), dir, kCfgFilter);
    if (f.isEmpty()) return;
    file_->setText(QDir::toNativeSeparators(f));
    showSummary();
}

void StationWindow::chooseTable() {
    const QString dir =
        tablePath_->text().isEmpty() ? Documents() : QFileInfo(tablePath_->text()).absolutePath();
    const QString f = asks_.openFile(this, QStringLiteral("Список значений"), dir, kTableFilter);
    if (!f.isEmpty()) tablePath_->setText(QDir::toNativeSeparators(f));
}

void StationWindow::chooseReport() {
    const QString f = asks_.saveFile(this, QStringLiteral("Отчёт"), report_->text(), kReportFilter);
    if (!f.isEmpty()) report_->setText(QDir::toNativeSeparators(f));
}

void StationWindow::chooseLedger() {
    const QString f =
        asks_.saveFile(this, QStringLiteral("Учёт номеров"), ledgerPath_->text(), kReportFilter);
    if (!f.isEmpty()) ledgerPath_->setText(QDir::toNativeSeparators(f));
}

// The file's object number and the first central station's phones: enough to see at a glance that it is the
// right one.
void StationWindow::showSummary() {
    const QString path = file_->text();
    if (path.isEmpty()) {
        summary_->setText(QStringLiteral("Файл не выбран"));
        return;
    }
    ParameterImage image{};
    image.fill(0xFF);
    const ConfigRead read = ReadConfigOpened(Utf8Path(utf8(path)));
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, image)) {
        summary_->setText(fromUtf8(ReadProblemText(read)));
        return;
    }
    QString object, phones;
    for (const FieldView& f : ViewFields(image)) {
        const QString name = fromUtf8(std::string(f.field->control));
        if (name == QLatin1String("TS_object_id")) object = fromUtf8(f.text);
        if (name.startsWith(QLatin1String("CS1_phone_")) && !f.text.empty())
            phones += (phones.isEmpty() ? "" : ", ") + fromUtf8(f.text);
    }
    summary_->setText(QStringLiteral("Объект %1; телефоны ЦС №1: %2")
                          .arg(object, phones.isEmpty() ? QStringLiteral("нет") : phones));
}

} // namespace tk7v::station_window
