#include "ui/TCPInputDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>
#include <QSpinBox>
#include <QVBoxLayout>

TCPInputDialog::TCPInputDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("TCP Client Settings");
    resize(300, 173);

    box_ipaddr = new QLineEdit(this);
    box_ipaddr->setObjectName("box_ipaddr");
    box_ipaddr->setMaxLength(128);
    box_ipaddr->setText("127.0.0.1");

    box_port = new QSpinBox(this);
    box_port->setObjectName("box_port");
    box_port->setRange(1, 65535);
    box_port->setValue(7777);

    box_bandwidth = new QDoubleSpinBox(this);
    box_bandwidth->setObjectName("box_bandwidth");
    box_bandwidth->setDecimals(6);
    box_bandwidth->setRange(0.1, 100);
    box_bandwidth->setValue(1);
    box_bandwidth->setSuffix(" MHz");

    box_format = new QComboBox(this);
    box_format->setObjectName("box_format");
    box_format->addItem("8-bit interleaved IQ samples");
    box_format->addItem("16-bit interleaved IQ samples");
    box_format->addItem("32-bit interleaved floating point samples");
    box_format->setCurrentIndex(1);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow("IP:", box_ipaddr);
    form->addRow("Port:", box_port);
    form->addRow("Bandwidth:", box_bandwidth);
    form->addRow("Format:", box_format);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    layout->addWidget(buttons);
}

TcpInputSettings TCPInputDialog::settings() const
{
    TcpInputSettings s;
    s.address = box_ipaddr->text();
    s.port = box_port->value();
    s.bandwidthMHz = box_bandwidth->value();
    s.format = static_cast<IqFormat>(box_format->currentIndex());
    return s;
}

void attachTcpInputDialogs(TCPInputDevice& device, QWidget* parent)
{
    QPointer<QWidget> owner(parent);
    device.setSettingsPrompt([owner]() -> std::optional<TcpInputSettings> {
        TCPInputDialog dialog(owner);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.settings();
    });
    device.setErrorReporter([owner](const QString& title, const QString& text) {
        QMessageBox::warning(owner, title, text, QMessageBox::Ok);
    });
}
