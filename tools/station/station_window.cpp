#include "station_window.h"

#include "event_relay.h"

#include "link/port_list.h"
#include "link/port_names.h"
#include "model/config_file.h"
#include "model/field_rules.h"
#include "station/values_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTime>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace tk7v::station_window {

namespace {

const QString kCfgFilter = QStringLiteral("Файлы конфигурации (*.cfg);;Все файлы (*)");
const QString kTableFilter = QStringLiteral("Таблицы CSV (*.csv);;Все файлы (*)");
const QString kReportFilter = QStringLiteral("Отчёт CSV (*.csv);;Отчёт JSON Lines (*.jsonl)");
const QStringList kRates = {"110",  "300",   "600",   "1200",  "2400",  "4800",
                            "9600", "19200", "38400", "57600", "115200"};
constexpr int kTileWidth = 310;

QString fromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

std::string utf8(const QString& s) {
    return s.toStdString();
}

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

QString documents() {
    const QString d = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return d.isEmpty() ? QDir::homePath() : d;
}

// The installed guide: beside the program (the Windows setup), else in the documentation folder
// of the installation (Debian's /usr/share/doc/tk7v).
QString installedGuide() {
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& relative :
         {QStringLiteral("guide.html"), QStringLiteral(TK7V_DOC_FROM_PROGRAM "/guide.html")}) {
        const QFileInfo page(dir.filePath(relative));
        if (page.isFile()) return page.canonicalFilePath();
    }
    return {};
}

} // namespace

struct StationWindow::Loaded {
    std::string file;
    ParameterImage image{};
    std::vector<station::ValuesRow> list;
    std::optional<station::Counter> counter;
    std::string report;
};

StationWindow::StationWindow(const StartWith& with, StationEnv env)
    : env_(std::move(env)), ownAsks_(env_.asks ? nullptr : new QtAsks),
      asks_(env_.asks ? *env_.asks : *ownAsks_) {
    if (!env_.listPorts) env_.listPorts = ListPresentPorts;
    relay_ = std::make_unique<EventRelay>(this);
    setWindowTitle(kStationTitle);
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    buildSetup(central, column);

    auto* controls = new QHBoxLayout;
    startButton_ = new QPushButton(QStringLiteral("Старт (F5)"), central);
    stopButton_ = new QPushButton(QStringLiteral("Стоп (Shift+F5)"), central);
    QFont big = startButton_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    startButton_->setFont(big);
    stopButton_->setFont(big);
    counts_ = new QLabel(central);
    counts_->setFont(big);
    warning_ = new QLabel(central);
    warning_->setWordWrap(true);
    warning_->setStyleSheet(QStringLiteral("color:#9b1c1c;font-weight:bold"));
    warning_->hide();
    controls->addWidget(startButton_);
    controls->addWidget(stopButton_);
    for (QPushButton* b : {startButton_, stopButton_})
        b->setMinimumWidth(b->sizeHint().width() + 40);
    controls->addSpacing(16);
    controls->addWidget(counts_);
    controls->addSpacing(16);
    controls->addWidget(warning_, 1);
    controls->addStretch();
    column->addLayout(controls);

    auto* split = new QSplitter(Qt::Vertical, central);
    auto* scroll = new QScrollArea(split);
    scroll->setWidgetResizable(true);
    tilesBox_ = new QWidget(scroll);
    tilesGrid_ = new QGridLayout(tilesBox_);
    tilesGrid_->setContentsMargins(2, 2, 2, 2);
    tilesGrid_->setSpacing(6);
    scroll->setWidget(tilesBox_);
    table_ = new QTableWidget(0, 6, split);
    table_->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Порт"),
                                       QStringLiteral("Устройство"), QStringLiteral("Выдано"),
                                       QStringLiteral("Результат"), QStringLiteral("Различаются поля")});
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(4, QHeaderView::Stretch);
    table_->setColumnWidth(2, 190);
    table_->setColumnWidth(3, 170);
    table_->setColumnWidth(5, 220);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    split->addWidget(scroll);
    split->addWidget(table_);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    split->setSizes({5000, 1000});
    table_->setMinimumHeight(90);
    split->setChildrenCollapsible(false);
    column->addWidget(split, 1);
    setCentralWidget(central);

    connect(startButton_, &QPushButton::clicked, this, [this] { start(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { stop(); });
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, [this] { start(); });
    auto* shiftF5 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5), this);
    connect(shiftF5, &QShortcut::activated, this, [this] { stop(); });
    // Closing from the keyboard as well, for a station kept without a mouse; it asks as the
    // window's close button does. Ctrl+Q on every system: Windows has no standard key for it.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [this] { openGuide(); });

    loadSettings(with);
    refreshPorts();
    portTimer_ = new QTimer(this);
    connect(portTimer_, &QTimer::timeout, this, &StationWindow::refreshPorts);
    portTimer_->start(env_.refresh);
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(station::Station::kRecordsRetry));
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (!ledger_ || station_) return retryTimer_->stop();
        const std::string failed = ledger_->flush();
        onRecords(static_cast<int>(ledger_->pending()), fromUtf8(failed));
        if (ledger_->pending() == 0) {
            retryTimer_->stop();
            ledger_.reset();
        }
    });
    setRunning(false);
    updateCounts();
    resize(1200, 720);
}

StationWindow::~StationWindow() {
    // The ports' threads end before the window does: none may post to it once it is gone.
    if (station_) station_->stop();
    if (ender_.joinable()) ender_.join();
    station_.reset();
}

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
    const QString folder = s.value("reportFolder", documents()).toString();
    report_->setText(start.report.isEmpty() ? dailyReport(folder) : start.report);
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
    s.setValue("file", file_->text());
    s.setValue("values", tablePath_->text());
    s.setValue("number", number_->text());
    if (!report_->text().isEmpty()) s.setValue("reportFolder", QFileInfo(report_->text()).absolutePath());
    s.setValue("baud", baud_->currentText());
    QStringList ports;
    for (PortTile* t : tiles_)
        if (t->takePart()->isChecked()) ports << t->port();
    s.setValue("ports", ports);
    s.setValue("geometry", saveGeometry());
}

void StationWindow::showAsLeft() {
    const QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    if (restoreGeometry(s.value("geometry").toByteArray())) return show();
    // Sized to the screen before it is maximized: where nothing maximizes it (Wine with no window
    // manager) it still fills the screen, and Qt's layout agrees with the window's real size.
    setGeometry(screen()->availableGeometry());
    showMaximized();
}

// ---- setup -------------------------------------------------------------------------------------

void StationWindow::chooseFile() {
    const QString dir = file_->text().isEmpty() ? documents() : QFileInfo(file_->text()).absolutePath();
    const QString f = asks_.openFile(this, QStringLiteral("Файл конфигурации"), dir, kCfgFilter);
    if (f.isEmpty()) return;
    file_->setText(QDir::toNativeSeparators(f));
    showSummary();
}

void StationWindow::chooseTable() {
    const QString dir =
        tablePath_->text().isEmpty() ? documents() : QFileInfo(tablePath_->text()).absolutePath();
    const QString f = asks_.openFile(this, QStringLiteral("Список значений"), dir, kTableFilter);
    if (!f.isEmpty()) tablePath_->setText(QDir::toNativeSeparators(f));
}

void StationWindow::chooseReport() {
    const QString f = asks_.saveFile(this, QStringLiteral("Отчёт"), report_->text(), kReportFilter);
    if (!f.isEmpty()) report_->setText(QDir::toNativeSeparators(f));
}

// The file's object number and CS1's phones: enough to see at a glance that it is the right one.
void StationWindow::showSummary() {
    const QString path = file_->text();
    if (path.isEmpty()) {
        summary_->setText(QStringLiteral("Файл не выбран"));
        return;
    }
    ParameterImage image{};
    image.fill(0xFF);
    const ConfigRead read = ReadConfigFile(Utf8Path(utf8(path)));
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, image)) {
        summary_->setText(fromUtf8(ReadFailureText(read)));
        return;
    }
    QString object, phones;
    for (const FieldView& f : ViewFields(image)) {
        const QString name = fromUtf8(std::string(f.field->control));
        if (name == QLatin1String("TS_object_id")) object = fromUtf8(f.text);
        if (name.startsWith(QLatin1String("CS1_phone_")) && !f.text.empty())
            phones += (phones.isEmpty() ? "" : ", ") + fromUtf8(f.text);
    }
    summary_->setText(QStringLiteral("Объект %1; телефоны CS1: %2")
                          .arg(object, phones.isEmpty() ? QStringLiteral("нет") : phones));
}

// ---- tiles -------------------------------------------------------------------------------------

PortTile* StationWindow::tile(const QString& port) const {
    for (PortTile* t : tiles_)
        if (t->port() == port) return t;
    return nullptr;
}

PortTile* StationWindow::addTile(const QString& port, bool take) {
    auto* t = new PortTile(port, tilesBox_);
    t->takePart()->setChecked(take);
    t->setState(take ? QStringLiteral("не запущено") : QStringLiteral("не участвует"), PortTile::Tone::Idle);
    connect(t->takePart(), &QCheckBox::toggled, this, [this, t](bool on) { takePart(t, on); });
    tiles_.push_back(t);
    columns_ = 0; // lay out again
    layOutTiles();
    return t;
}

void StationWindow::customEvent(QEvent*) {
    // The relay's wake-up, the only event posted to this window; not even its type is read, since
    // it was made on a port's thread.
    relay_->woken();
}

void StationWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOutTiles();
}

void StationWindow::layOutTiles() {
    const int columns = std::max(
        1, (tilesBox_->parentWidget() ? tilesBox_->parentWidget()->width() : width()) / (kTileWidth + 8));
    if (columns == columns_) return;
    columns_ = columns;
    for (int i = 0; i < tiles_.size(); ++i) {
        tilesGrid_->removeWidget(tiles_[i]);
        tilesGrid_->addWidget(tiles_[i], i / columns, i % columns);
    }
    for (int c = 0; c < columns; ++c)
        tilesGrid_->setColumnStretch(c, 1);
    tilesGrid_->setRowStretch(static_cast<int>((tiles_.size() + columns - 1) / columns), 1);
}

void StationWindow::refreshPorts() {
    const std::vector<std::string> present = env_.listPorts();
    const auto listed = [&](const QString& p) {
        return std::find(present.begin(), present.end(), utf8(p)) != present.end();
    };
    for (PortTile* t : tiles_)
        t->setPresent(listed(t->port()));
    for (const std::string& name : present)
        if (!tile(fromUtf8(name))) {
            // An adapter plugged in while the window is open is there to be used; ports named on
            // the command line are the only ones taking part, though.
            PortTile* t = addTile(fromUtf8(name), !portsGiven_);
            if (running() && t->takePart()->isChecked()) takePart(t, true);
        }
    if (width() > 0) layOutTiles();
}

void StationWindow::takePart(PortTile* t, bool take) {
    if (!station_ || stopping_) {
        t->setState(take ? QStringLiteral("не запущено") : QStringLiteral("не участвует"),
                    PortTile::Tone::Idle);
        return;
    }
    const std::string name = utf8(t->port());
    auto at = std::find(names_.begin(), names_.end(), name);
    if (at == names_.end()) at = names_.insert(names_.end(), name);
    const int index = static_cast<int>(at - names_.begin());
    if (take) {
        station_->add(name, index);
    } else {
        station_->remove(index);
        if (std::find(working_.begin(), working_.end(), index) == working_.end())
            t->setState(QStringLiteral("не участвует"), PortTile::Tone::Idle);
    }
}

// ---- the run -----------------------------------------------------------------------------------

std::optional<StationWindow::Loaded> StationWindow::prepare(QString& error) const {
    Loaded l;
    l.file = utf8(file_->text());
    if (l.file.empty()) {
        error = QStringLiteral("Выберите файл конфигурации: он записывается в каждое устройство.");
        return std::nullopt;
    }
    l.image.fill(0xFF);
    const ConfigRead read = ReadConfigFile(Utf8Path(l.file));
    if (read.status != ConfigRead::Status::Loaded || !TakeConfigFile(read.contents, l.image)) {
        error = fromUtf8(l.file + ": " + ReadFailureText(read));
        return std::nullopt;
    }
    l.image = AsTheWindowBuildsIt(l.image);
    if (const QString path = tablePath_->text(); !path.isEmpty()) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            error = path + QStringLiteral(": ") + f.errorString();
            return std::nullopt;
        }
        const QByteArray bytes = f.readAll();
        const station::ValuesTable table = station::ReadValuesTable(bytes.toStdString());
        if (!table.error.empty()) {
            error = path + QStringLiteral(": ") + fromUtf8(table.error);
            return std::nullopt;
        }
        if (!table.list) {
            error = path + QStringLiteral(": в таблице есть столбец port. Станция даёт каждому устройству "
                                          "следующую строку списка: уберите столбец port.");
            return std::nullopt;
        }
        if (table.rows.empty()) {
            error = path + QStringLiteral(": в списке нет ни одной строки");
            return std::nullopt;
        }
        QStringList refusedLines;
        for (const station::ValuesRow& row : table.rows) {
            ParameterImage copy = l.image;
            bool refused = false;
            const auto lines = station::RowIssues(row, utf8(path), copy, false, refused);
            if (refused)
                for (const std::string& line : lines)
                    refusedLines << fromUtf8(line);
        }
        if (!refusedLines.isEmpty()) {
            error = refusedLines.join('\n') + QStringLiteral("\nНи одно устройство не затронуто.");
            return std::nullopt;
        }
        l.list = table.rows;
    }
    if (const QString number = number_->text().trimmed(); !number.isEmpty()) {
        std::string why;
        l.counter = station::ParseCounter(utf8(number), l.image, why);
        if (!l.counter) {
            error = fromUtf8(why);
            return std::nullopt;
        }
    }
    l.report = utf8(report_->text());
    if (l.report.empty()) {
        error =
            QStringLiteral("Укажите файл отчёта: он хранит запись о каждом устройстве и выданные номера.");
        return std::nullopt;
    }
    return l;
}

bool StationWindow::start() {
    if (station_ || stopping_) return false;
    QString error;
    std::optional<Loaded> l = prepare(error);
    if (l &&
        std::none_of(tiles_.begin(), tiles_.end(), [](PortTile* t) { return t->takePart()->isChecked(); }))
        error = QStringLiteral("Отметьте порты, на которых программировать устройства.");
    if (l && ledger_ && ledger_->pending() > 0 && QString::fromStdString(l->report) != reportPath_)
        error = QStringLiteral("Записи прошлого запуска ещё не записаны в отчёт %1: выберите его снова, "
                               "чтобы они были дописаны.")
                    .arg(reportPath_);
    if (l && error.isEmpty() && !(ledger_ && ledger_->pending() > 0)) {
        // The day's report goes into a folder that may not be there yet (a fresh profile).
        QDir().mkpath(QFileInfo(fromUtf8(l->report)).absolutePath());
        std::string why;
        bool held = false;
        ledger_ = station::Report::open(l->report, why, &held);
        if (!ledger_) error = fromUtf8(why);
        // On Windows a spreadsheet that shows the report holds it, and the system says so only as
        // "access denied" or a sharing violation, which alone do not tell the technician what to do.
        if (held)
            error += QStringLiteral("\n\nВозможно, отчёт открыт в другой программе (например, в таблице): "
                                    "закройте его там или выберите другой файл отчёта.");
        reportPath_ = fromUtf8(l->report);
    }
    if (!l || !error.isEmpty()) {
        asks_.error(this, error);
        return false;
    }
    retryTimer_->stop();
    saveSettings();
    numbering_ = std::make_unique<station::Numbering>(l->list, l->counter);
    reportTo_ = {ledger_.get(), "write", numbering_->active() ? numbering_.get() : nullptr, true};
    station::PortJob::Options options;
    options.config.baudRate = baud_->currentText().toUInt();
    const ParameterImage image = l->image;
    const std::string file = l->file;
    station_ = std::make_unique<station::Station>(
        options, *relay_, [image](station::PortJob& j) { return j.write(image, true); },
        [file](station::PortJob& j, station::PortJob::Result r) {
            return station::WriteEnd(j, r, true, file);
        },
        reportTo_);
    started_ = std::chrono::steady_clock::now();
    done_ = failed_ = 0;
    working_.clear();
    setRunning(true);
    for (PortTile* t : tiles_)
        takePart(t, t->takePart()->isChecked());
    updateCounts();
    return true;
}

void StationWindow::stop() {
    if (!station_ || stopping_) return;
    stopping_ = true;
    setRunning(true);
    station_->stop();
    // The ports end their exchanges between two commands: waited for away from the window.
    station::Station* station = station_.get();
    ender_ = std::thread([this, station] {
        lastRun_ = station->wait();
        QMetaObject::invokeMethod(
            this, [this] { finishRun(); }, Qt::QueuedConnection);
    });
}

void StationWindow::release() {
    if (!station_) return;
    station_->stop();
    if (ender_.joinable())
        ender_.join();
    else
        lastRun_ = station_->wait();
    station_.reset();
    if (ledger_) ledger_->flush();
}

void StationWindow::finishRun() {
    if (ender_.joinable()) ender_.join();
    station_.reset();
    relay_->drain(); // the ports' last words, before the window says the run is over
    stopping_ = false;
    working_.clear();
    for (PortTile* t : tiles_)
        if (t->tone() != PortTile::Tone::Done && t->tone() != PortTile::Tone::Failed)
            t->setState(t->takePart()->isChecked() ? QStringLiteral("остановлено")
                                                   : QStringLiteral("не участвует"),
                        PortTile::Tone::Idle);
    // Records the report could not take stay with the window, tried again until written.
    if (ledger_ && ledger_->pending() > 0)
        retryTimer_->start();
    else
        ledger_.reset();
    setRunning(false);
    emit runEnded();
    if (closeWhenStopped_) close();
}

void StationWindow::setRunning(bool on) {
    startButton_->setEnabled(!on);
    stopButton_->setEnabled(on && !stopping_);
    setup_->setVisible(!on);
    runningSetup_->setVisible(on);
    if (on) {
        QStringList what = {QFileInfo(file_->text()).fileName() + QStringLiteral(" (") + summary_->text() +
                            ')'};
        if (!tablePath_->text().isEmpty())
            what << QStringLiteral("список ") + QFileInfo(tablePath_->text()).fileName();
        if (!number_->text().trimmed().isEmpty())
            what << QStringLiteral("номера ") + number_->text().trimmed();
        what << QStringLiteral("отчёт ") + report_->text() << baud_->currentText() + QStringLiteral(" бод");
        runningSetup_->setText(what.join(QStringLiteral(" · ")));
    }
    QString title = kStationTitle;
    if (!file_->text().isEmpty()) title += QStringLiteral(" — ") + QFileInfo(file_->text()).fileName();
    if (on) title += stopping_ ? QStringLiteral(" (останавливается)") : QStringLiteral(" (работает)");
    setWindowTitle(title);
}

void StationWindow::updateCounts() {
    QString rate = QStringLiteral("—");
    if (station_ && done_ > 0) {
        // Over at least a minute, so the first device does not promise a thousand an hour.
        const double seconds = std::max(
            60.0, std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count());
        rate = QString::number(static_cast<int>(done_ * 3600.0 / seconds));
    }
    counts_->setText(
        QStringLiteral("Записано: %1   С ошибкой: %2   В час: %3").arg(done_).arg(failed_).arg(rate));
}

QString StationWindow::recordsWarning() const {
    return warning_->isHidden() ? QString() : warning_->text();
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (station_) {
        event->ignore();
        if (!working_.empty() && !closeWhenStopped_ &&
            !asks_.confirm(
                this, QStringLiteral("Устройства ещё записываются (%1). Остановить запись и закрыть окно? "
                                     "Начатые блоки дописываются целыми, устройства "
                                     "сбрасываются.")
                          .arg(working_.size())))
            return;
        closeWhenStopped_ = true;
        stop();
        return;
    }
    if (ledger_ && ledger_->pending() > 0 && ledger_->flush().empty() == false &&
        !asks_.confirm(this,
                       QStringLiteral("В отчёт %1 не записаны записи об устройствах: %2. Закрыть окно и "
                                      "потерять их?")
                           .arg(reportPath_)
                           .arg(ledger_->pending()))) {
        closeWhenStopped_ = false;
        event->ignore();
        return;
    }
    saveSettings();
    event->accept();
}

void StationWindow::openGuide() {
    const QString guide = env_.guide.isEmpty() ? installedGuide() : env_.guide;
    if (guide.isEmpty()) return;
    QUrl url = QUrl::fromLocalFile(guide);
    url.setFragment(QStringLiteral("станция-программирования"));
    QDesktopServices::openUrl(url);
}

// ---- events ------------------------------------------------------------------------------------

namespace {

PortTile* tileOf(const std::vector<std::string>& names, int port, const StationWindow& w) {
    return port >= 0 && port < static_cast<int>(names.size()) ? w.tile(QString::fromStdString(names[port]))
                                                              : nullptr;
}

} // namespace

void StationWindow::onState(int port, int state, const QString& text) {
    PortTile* t = tileOf(names_, port, *this);
    if (!t) return;
    switch (static_cast<station::PortState>(state)) {
    case station::PortState::AwaitingDevice:
        t->setState(QStringLiteral("ждёт устройство"), PortTile::Tone::Waiting);
        break;
    case station::PortState::AwaitingRemoval:
        t->setState(QStringLiteral("отключите устройство"), PortTile::Tone::Remove);
        break;
    case station::PortState::RunOut:
        t->setState(text.isEmpty() ? QStringLiteral("строки списка кончились")
                                   : QStringLiteral("номера %1 кончились").arg(text),
                    PortTile::Tone::Idle);
        break;
    case station::PortState::RecordsKept:
        t->setState(QStringLiteral("ждёт отчёт"), PortTile::Tone::Busy);
        break;
    case station::PortState::Working:
        // Between devices only a port that cannot be used says anything: why it cannot.
        if (std::find(working_.begin(), working_.end(), port) == working_.end()) {
            t->setState(QStringLiteral("порт недоступен"), PortTile::Tone::Failed);
            t->setNote(text);
        }
        return;
    }
    t->setNote({});
}

void StationWindow::onPhase(int port, int phase) {
    PortTile* t = tileOf(names_, port, *this);
    if (!t) return;
    phases_[port] = static_cast<station::Phase>(phase);
    switch (static_cast<station::Phase>(phase)) {
    case station::Phase::Connecting:
        if (std::find(working_.begin(), working_.end(), port) == working_.end()) working_.push_back(port);
        t->clearResult();
        t->setNote({});
        t->setState(QStringLiteral("подключение"), PortTile::Tone::Busy);
        break;
    case station::Phase::Writing:
        t->setState(QStringLiteral("запись 0 %"), PortTile::Tone::Busy);
        break;
    case station::Phase::Reading:
        t->setState(QStringLiteral("проверка 0 %"), PortTile::Tone::Busy);
        break;
    }
}

void StationWindow::onShare(int port, int percent) {
    PortTile* t = tileOf(names_, port, *this);
    const auto phase = phases_.find(port);
    if (!t || phase == phases_.end() || phase->second == station::Phase::Connecting) return;
    t->setState((phase->second == station::Phase::Writing ? QStringLiteral("запись %1 %")
                                                          : QStringLiteral("проверка %1 %"))
                    .arg(percent),
                PortTile::Tone::Busy);
}

void StationWindow::onEnded(int port, const QString& text, bool ok, bool /*partBlock*/, const QString& ident,
                            const QString& given, const QStringList& differing, bool recorded) {
    working_.erase(std::remove(working_.begin(), working_.end(), port), working_.end());
    phases_.erase(port);
    PortTile* t = tileOf(names_, port, *this);
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    ++(ok ? done_ : failed_);
    if (t) {
        QStringList detail;
        if (!ident.isEmpty()) detail << ident;
        if (!given.isEmpty()) detail << given;
        detail << time;
        if (!recorded) detail << QStringLiteral("запись в отчёт ждёт");
        t->setState(ok ? QStringLiteral("✓ записано и проверено") : QStringLiteral("✗ ошибка"),
                    ok ? PortTile::Tone::Done : PortTile::Tone::Failed);
        t->setResult((ok ? QStringLiteral("✓ ") : QStringLiteral("✗ ")) + text,
                     detail.join(QStringLiteral(" · ")), ok);
        t->flash();
    }
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QStringList cells = {
        time,  port < static_cast<int>(names_.size()) ? fromUtf8(names_[port]) : QString(),
        ident, given,
        text,  differing.join(QStringLiteral(", "))};
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == 4) item->setForeground(ok ? QColor(0x1b, 0x5e, 0x20) : QColor(0x9b, 0x1c, 0x1c));
        table_->setItem(row, c, item);
    }
    table_->scrollToBottom();
    if (env_.sound) QApplication::beep();
    QApplication::alert(this);
    updateCounts();
}

void StationWindow::onRecords(int kept, const QString& error) {
    if (kept == 0) {
        warning_->hide();
        return;
    }
    warning_->setText(
        QStringLiteral("Отчёт не записывается: %1. Записей ждут: %2; они будут дописаны, как только "
                       "файл станет доступен. Новые устройства не начинаются.")
            .arg(error)
            .arg(kept));
    warning_->show();
}

} // namespace tk7v::station_window
