#include "station_window.h"

#include "window_common.h"

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

QString Documents() {
    const QString d = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return d.isEmpty() ? QDir::homePath() : d;
}

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
    header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(3, QHeaderView::ResizeToContents);
    table_->setColumnWidth(5, 260);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Rows a line high, and room for the day's last eight records whole whatever the number of
    // tiles: the operator reads what happened there, the tiles only say what happens now.
    const int rowHeight = table_->fontMetrics().height() + 6;
    table_->verticalHeader()->setMinimumSectionSize(rowHeight);
    table_->verticalHeader()->setDefaultSectionSize(rowHeight);
    table_->setMinimumHeight(header->sizeHint().height() + kRecordsShown * rowHeight +
                             2 * table_->frameWidth());
    // Tab goes from Стоп to the ports, not to their frame; to the table once it has a record to
    // show the focus on.
    scroll->setFocusPolicy(Qt::NoFocus);
    table_->setFocusPolicy(Qt::ClickFocus);
    split->addWidget(scroll);
    split->addWidget(table_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({5000, table_->minimumHeight()});
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
    quit->setAutoRepeat(false); // a key held down must not answer the question it raises
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, [this] { openGuide(); });

    loadSettings(with);
#ifdef TK7V_HAVE_LABELS
    loadLabelSettings();
#endif
    refreshPorts();
    portTimer_ = new QTimer(this);
    connect(portTimer_, &QTimer::timeout, this, &StationWindow::refreshPorts);
    portTimer_->start(env_.refresh);
    retryTimer_ = new QTimer(this);
    retryTimer_->setInterval(
        std::chrono::duration_cast<std::chrono::milliseconds>(station::Station::kRecordsRetry));
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (!session_.report() || station_) return retryTimer_->stop();
        const std::string failed = session_.flushReport(station::LockWait::Once());
        onRecords(static_cast<int>(session_.reportWaiting()), fromUtf8(failed));
        if (session_.reportWaiting() == 0) {
            retryTimer_->stop();
            session_.settle();
        }
    });
    setRunning(false);
    updateCounts();
    resize(1200, 720);
}

StationWindow::~StationWindow() {
#ifdef TK7V_HAVE_LABELS
    labelQueue_.reset(); // its thread tells the window what became of each label
#endif
    // The ports' threads end before the window does: none may post to it once it is gone.
    if (station_) station_->stop();
    if (ender_.joinable()) ender_.join();
    station_.reset();
}

void StationWindow::showAsLeft() {
    const QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    if (restoreGeometry(s.value("geometry").toByteArray())) return show();
    // Sized to the screen before it is maximized: where nothing maximizes it (Wine with no window
    // manager) it still fills the screen, and Qt's layout agrees with the window's real size.
    setGeometry(screen()->availableGeometry());
    showMaximized();
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

void StationWindow::setRunning(bool on) {
    startButton_->setEnabled(!on);
    stopButton_->setEnabled(on && !stopping_);
    // The key focus never stays on a field the run hides or a button it disables: Tab goes on
    // from where the operator can see it.
    QWidget* focused = focusWidget();
    setup_->setVisible(!on);
    runningSetup_->setVisible(on);
    if (focused && (!focused->isVisible() || !focused->isEnabled()))
        (on ? stopButton_ : startButton_)->setFocus(Qt::OtherFocusReason);
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
    if (station_) {
        done_ = station_->done();
        failed_ = station_->failed();
    }
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
        // A running station stops only on the operator's "Да": a closing asked by mistake (the
        // window's cross, Ctrl+Q) leaves it working. One already stopping just ends.
        event->ignore();
        const int working = station_->working();
        const QString question =
            working > 0
                ? QStringLiteral("Устройства ещё записываются (%1). Остановить запись и закрыть окно? "
                                 "Начатые блоки дописываются целыми, устройства сбрасываются.")
                      .arg(working)
                : QStringLiteral("Станция ждёт устройства. Остановить её и закрыть окно?");
        if (!closeWhenStopped_ && !stopping_ && !asks_.confirm(this, question)) return;
        closeWhenStopped_ = true;
        stop();
        return;
    }
    if (session_.reportWaiting() > 0 && !session_.flushReport(station::LockWait::Once()).empty() &&
        !asks_.confirm(this,
                       QStringLiteral("В отчёт %1 не записаны записи об устройствах: %2. Закрыть окно и "
                                      "потерять их?")
                           .arg(fromUtf8(session_.reportPath()))
                           .arg(session_.reportWaiting()))) {
        closeWhenStopped_ = false;
        event->ignore();
        return;
    }
    // Records a server did not take are held by this window alone: closing it loses them.
    if (session_.serverWaiting() > 0 &&
        !asks_.confirm(this,
                       QStringLiteral("На сервер учёта номеров не переданы записи об устройствах: %1 (в "
                                      "отчёте они есть). Закрыть окно и не передавать их?")
                           .arg(session_.serverWaiting()))) {
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

} // namespace tk7v::station_window
