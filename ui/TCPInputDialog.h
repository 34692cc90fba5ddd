// The dialog that asks for the TCP input's server, sample rate and format.
#pragma once

#include "devices/TCPInputDevice.h"

#include <QDialog>

class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;
class QWidget;

class TCPInputDialog : public QDialog {
public:
    explicit TCPInputDialog(QWidget* parent = nullptr);

    // The values as entered.
    TcpInputSettings settings() const;

    QLineEdit* box_ipaddr;
    QSpinBox* box_port;
    QDoubleSpinBox* box_bandwidth;
    QComboBox* box_format;
};

// Points the device's prompt at a modal TCPInputDialog and its error reports
// at warning boxes, both over `parent`.
void attachTcpInputDialogs(TCPInputDevice& device, QWidget* parent);
