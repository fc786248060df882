#pragma once
// The port settings: bit rate, data bits, parity, stop bits and flow control. They apply at the
// next open of the port.
#include "link/port_config.h"

#include <QDialog>

class QComboBox;

namespace tk7v {

class PortSettingsDialog : public QDialog {
    Q_OBJECT
public:
    PortSettingsDialog(QWidget* parent, const QString& portName, const PortConfig& config);
    PortConfig config() const;

private:
    PortConfig base_;
    QComboBox* baud_;
    QComboBox* dataBits_;
    QComboBox* parity_;
    QComboBox* stopBits_;
    QComboBox* flow_;
};

} // namespace tk7v
