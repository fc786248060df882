#include "ui/port_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

namespace tk7v {

namespace {

enum Flow { FlowNone, FlowXonXoff, FlowHardware };

QComboBox* choice(QWidget* parent, const QStringList& items, int current) {
    auto* box = new QComboBox(parent);
    box->addItems(items);
    box->setCurrentIndex(current);
    return box;
}

} // namespace

PortSettingsDialog::PortSettingsDialog(QWidget* parent, const QString& portName, const PortConfig& config)
    : QDialog(parent), base_(config) {
    setObjectName("PortSettingsDialog");
    setWindowTitle(QStringLiteral("Свойства: %1").arg(portName));
    const QStringList rates = {"110",  "300",   "600",   "1200",  "2400",  "4800",
                               "9600", "19200", "38400", "57600", "115200"};
    baud_ = choice(this, rates,
                   std::max<int>(0, static_cast<int>(rates.indexOf(QString::number(config.baudRate)))));
    dataBits_ = choice(this, {"5", "6", "7", "8"}, config.byteSize - 5);
    parity_ = choice(this, {"Нет", "Нечёт", "Чёт", "Маркер", "Пробел"}, static_cast<int>(config.parity));
    stopBits_ = choice(this, {"1", "1,5", "2"}, static_cast<int>(config.stopBits));
    const int flow = config.outxCtsFlow ? FlowHardware : config.outX ? FlowXonXoff : FlowNone;
    flow_ = choice(this, {"Нет", "Xon / Xoff", "Аппаратное"}, flow);
    baud_->setObjectName("baud");
    dataBits_->setObjectName("dataBits");
    parity_->setObjectName("parity");
    stopBits_->setObjectName("stopBits");
    flow_->setObjectName("flow");

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Бит в секунду:"), baud_);
    form->addRow(QStringLiteral("Биты данных:"), dataBits_);
    form->addRow(QStringLiteral("Чётность:"), parity_);
    form->addRow(QStringLiteral("Стоповые биты:"), stopBits_);
    form->addRow(QStringLiteral("Управление потоком:"), flow_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

PortConfig PortSettingsDialog::config() const {
    PortConfig c = base_;
    c.baudRate = baud_->currentText().toUInt();
    c.byteSize = static_cast<std::uint8_t>(dataBits_->currentIndex() + 5);
    c.parity = static_cast<PortConfig::Parity>(parity_->currentIndex());
    c.stopBits = static_cast<PortConfig::StopBits>(stopBits_->currentIndex());
    const int flow = flow_->currentIndex();
    c.outX = c.inX = flow == FlowXonXoff;
    c.outxCtsFlow = flow == FlowHardware;
    c.rtsControl = flow == FlowHardware ? PortConfig::RtsControl::Handshake : PortConfig::RtsControl::Disable;
    return c;
}

} // namespace tk7v
