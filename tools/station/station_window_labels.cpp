// The devices' labels in the station window: the «Наклейки» row of the setup (where they go, the
// size, a picture of the next one), a label for each device proven, sent by the labels' own
// thread so that a printer never holds a port or the window, a failure shown on the port's tile
// until the label is out, and any record's label again from the record table.
#include "labels/label_picture.h"
#include "link/network.h"
#include "model/field_rules.h"
#include "station_window.h"
#include "window_common.h"

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>

namespace tk7v::station_window {

namespace {

// What the label combo's items hold: nothing, a printer's name after this, or a folder.
const QString kPrinter = QStringLiteral("printer:");
const QString kFolder = QStringLiteral("folder");
constexpr int kLabelIndex = Qt::UserRole + 1; // a record's label, in its first cell
const QString kOwnSize = QStringLiteral("свой размер…");

// The sample the preview shows: a number and values as a device would get them.
labels::LabelContent Sample() {
    labels::LabelContent c;
    c.number = "123";
    c.lines.push_back({ShownName("CS1_phone_1"), "8,,8001234567"});
    c.date = utf8(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy")));
    c.station = ComputerName();
    c.code = "123 0123456789abcdef";
    return c;
}

} // namespace

void StationWindow::buildLabelsRow(QWidget* parent, QGridLayout* grid, int row) {
    labelTo_ = new QComboBox(parent);
    labelTo_->addItem(QStringLiteral("нет"), QString());
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        labelTo_->addItem(QStringLiteral("принтер ") + name, kPrinter + name);
    labelTo_->addItem(QStringLiteral("файлы PDF в папку"), kFolder);
    labelTo_->setToolTip(QStringLiteral("Наклейка с номером на каждое записанное и проверенное устройство"));
    labelFolder_ = new QLineEdit(parent);
    labelFolder_->setPlaceholderText(QStringLiteral("папка для наклеек PDF"));
    labelFolderButton_ = new QPushButton(QStringLiteral("Выбрать…"), parent);
    labelSize_ = new QComboBox(parent);
    labelSize_->setEditable(true); // a size of the operator's own, "50x35"
    for (const labels::LabelSize& s : labels::kCommonSizes)
        labelSize_->addItem(fromUtf8(labels::LabelSizeText(s)));
    labelSize_->setToolTip(QStringLiteral("Размер наклейки, мм: ширина×высота (можно вписать свой)"));
    labelPreview_ = new QLabel(parent);
    labelPreview_->setToolTip(QStringLiteral("Следующая наклейка (образец)"));

    auto* label = new QLabel(QStringLiteral("Нак&лейки:"), parent);
    label->setBuddy(labelTo_);
    auto* where = new QHBoxLayout;
    where->addWidget(labelTo_);
    where->addWidget(labelFolder_, 1);
    where->addWidget(labelFolderButton_);
    grid->addWidget(label, row, 0);
    grid->addLayout(where, row, 1, 1, 2);
    auto* size = new QLabel(QStringLiteral("Ра&змер, мм:"), parent);
    size->setBuddy(labelSize_);
    auto* sizeAndPicture = new QHBoxLayout;
    sizeAndPicture->addWidget(labelSize_);
    sizeAndPicture->addWidget(labelPreview_);
    sizeAndPicture->addStretch();
    grid->addWidget(size, row, 3);
    grid->addLayout(sizeAndPicture, row, 4);

    const auto folderShown = [this] {
        const bool folder = labelTo_->currentData().toString() == kFolder;
        labelFolder_->setVisible(folder);
        labelFolderButton_->setVisible(folder);
        labelSize_->setEnabled(!labelTo_->currentData().toString().isEmpty());
    };
    connect(labelTo_, &QComboBox::currentIndexChanged, this, folderShown);
    connect(labelTo_, &QComboBox::currentIndexChanged, this, [this] {
        if (labelQueue_) labelQueue_->retryNow(); // the label that waits goes where chosen now
    });
    connect(labelSize_, &QComboBox::currentTextChanged, this, &StationWindow::showLabelPreview);
    connect(labelFolderButton_, &QPushButton::clicked, this, [this] {
        const QString f = asks_.folder(this, QStringLiteral("Папка для наклеек"), labelFolder_->text());
        if (!f.isEmpty()) labelFolder_->setText(QDir::toNativeSeparators(f));
    });
    folderShown();

    labelQueue_ = std::make_unique<labels::LabelQueue>(
        [this](int id, const std::string& failed) {
            // The window's thread shows it; a window already gone drops it with its events.
            QMetaObject::invokeMethod(
                this, [this, id, failed = fromUtf8(failed)] { onLabelTold(id, failed); }, Qt::QueuedConnection);
        },
        env_.labelRetry);
}

void StationWindow::loadLabelSettings() {
    QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    const QString to = s.value("labelTo").toString();
    int at = labelTo_->findData(to);
    // A printer remembered but not listed now (switched off, taken away) stays chosen: its labels
    // wait until it is back.
    if (at < 0 && to.startsWith(kPrinter)) {
        labelTo_->insertItem(labelTo_->count() - 1, QStringLiteral("принтер ") + to.mid(kPrinter.size()), to);
        at = labelTo_->count() - 2;
    }
    labelTo_->setCurrentIndex(std::max(at, 0));
    labelFolder_->setText(s.value("labelFolder", QDir::toNativeSeparators(Documents() + QStringLiteral("/Наклейки ТК-7В")))
                              .toString());
    labelSize_->setCurrentText(s.value("labelSize", fromUtf8(labels::LabelSizeText({}))).toString());
    showLabelPreview();

    // The record table: a record's label again, from its menu or with Ctrl+P.
    auto* again = new QAction(QStringLiteral("Напечатать наклейку ещё раз"), table_);
    again->setShortcut(QKeySequence::Print);
    again->setShortcutContext(Qt::WidgetShortcut);
    table_->addAction(again);
    table_->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(again, &QAction::triggered, this, [this] {
        if (table_->currentRow() >= 0) printLabelAgain(table_->currentRow());
    });
}

void StationWindow::saveLabelSettings() const {
    QSettings s(QStringLiteral("tk7v"), QStringLiteral("tk7v-station"));
    s.setValue("labelTo", labelTo_->currentData().toString());
    s.setValue("labelFolder", labelFolder_->text());
    s.setValue("labelSize", labelSize_->currentText());
}

void StationWindow::showLabelPreview() {
    labels::LabelSize size;
    if (!labels::ParseLabelSize(utf8(labelSize_->currentText()), size)) {
        labelPreview_->setText(QStringLiteral("размер: ширина×высота, мм"));
        return;
    }
    // Twice the screen's size of the paper, as large as the row lets it be.
    const double dotsPerMm = std::min(4.0, 2.4 * labelSize_->sizeHint().height() / size.height);
    labelPreview_->setPixmap(QPixmap::fromImage(labels::LabelImage(Sample(), size, dotsPerMm)));
}

labels::LabelWhere StationWindow::labelWhere() const {
    labels::LabelWhere where;
    const QString to = labelTo_->currentData().toString();
    if (!labels::ParseLabelSize(utf8(labelSize_->currentText()), where.size)) where.size = {};
    if (to.startsWith(kPrinter)) where.printer = utf8(to.mid(kPrinter.size()));
    if (to == kFolder && !labelFolder_->text().isEmpty())
        where.folder = std::filesystem::path(labelFolder_->text().toStdU16String());
    return where;
}

void StationWindow::onProven(int port, const labels::LabelContent& content) {
    // onEnded has just put this device's record on top.
    labelOf_.push_back(content);
    if (QTableWidgetItem* first = table_->item(0, 0)) first->setData(kLabelIndex, int(labelOf_.size() - 1));
    const labels::LabelWhere where = labelWhere();
    if (!where.any() || port >= int(names_.size())) return;
    labelPort_[labelQueue_->add(content, names_[std::size_t(port)], where)] = names_[std::size_t(port)];
}

bool StationWindow::printLabelAgain(int row) {
    const QTableWidgetItem* first = table_->item(row, 0);
    const QVariant index = first ? first->data(kLabelIndex) : QVariant();
    const labels::LabelWhere where = labelWhere();
    if (!index.isValid() || !where.any()) return false;
    const std::string port = utf8(table_->item(row, 1) ? table_->item(row, 1)->text() : QString());
    labelPort_[labelQueue_->add(labelOf_[std::size_t(index.toInt())], port, where)] = port;
    labelQueue_->retryNow();
    return true;
}

void StationWindow::onLabelTold(int id, const QString& failed) {
    const auto port = labelPort_.find(id);
    if (port == labelPort_.end()) return;
    if (PortTile* t = tile(fromUtf8(port->second)))
        t->setLabelNote(failed.isEmpty() ? QString() : QStringLiteral("наклейка не напечатана: ") + failed);
    if (failed.isEmpty()) labelPort_.erase(port);
}

} // namespace tk7v::station_window
