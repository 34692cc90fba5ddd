#include "ui/TCPInputDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Answers the modal windows that open() shows: fills in and accepts (or
// cancels) the settings dialog, and notes and closes any warning box.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(TCPInputDialog*)> fill) : fill(std::move(fill))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { answer(); });
        timer.start(10);
    }
    QString boxTitle, boxText;
    int dialogs = 0;

private:
    void answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxTitle = box->windowTitle();
            boxText = box->text();
            box->accept();
        } else if (auto* dialog = dynamic_cast<TCPInputDialog*>(modal)) {
            ++dialogs;
            fill(dialog);
        }
    }
    std::function<void(TCPInputDialog*)> fill;
    QTimer timer;
};

} // namespace

TEST(TcpInputDialog, LayoutNamesRangesAndInitialValues)
{
    TCPInputDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "TCP Client Settings");
    EXPECT_EQ(dialog.size(), QSize(300, 173));

    auto* ip = dialog.findChild<QLineEdit*>("box_ipaddr");
    ASSERT_NE(ip, nullptr);
    EXPECT_EQ(ip->maxLength(), 128);
    EXPECT_EQ(ip->text(), "127.0.0.1");

    auto* port = dialog.findChild<QSpinBox*>("box_port");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->minimum(), 1);
    EXPECT_EQ(port->maximum(), 65535);
    EXPECT_EQ(port->value(), 7777);

    auto* bandwidth = dialog.findChild<QDoubleSpinBox*>("box_bandwidth");
    ASSERT_NE(bandwidth, nullptr);
    EXPECT_EQ(bandwidth->decimals(), 6);
    EXPECT_DOUBLE_EQ(bandwidth->minimum(), 0.1);
    EXPECT_DOUBLE_EQ(bandwidth->maximum(), 100);
    EXPECT_DOUBLE_EQ(bandwidth->value(), 1);
    EXPECT_EQ(bandwidth->suffix(), " MHz");

    auto* format = dialog.findChild<QComboBox*>("box_format");
    ASSERT_NE(format, nullptr);
    ASSERT_EQ(format->count(), 3);
    EXPECT_EQ(format->itemText(0), "8-bit interleaved IQ samples");
    EXPECT_EQ(format->itemText(1), "16-bit interleaved IQ samples");
    EXPECT_EQ(format->itemText(2), "32-bit interleaved floating point samples");
    EXPECT_EQ(format->currentIndex(), 1);

    auto* form = dialog.findChild<QFormLayout*>();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->labelAlignment() & Qt::AlignRight);
    ASSERT_EQ(form->rowCount(), 4);
    const char* labels[] = {"IP:", "Port:", "Bandwidth:", "Format:"};
    for (int row = 0; row < 4; ++row) {
        auto* label = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), labels[row]);
    }
}

TEST(TcpInputDialog, OpenShowsTheDialogAndWarnsAboutABadAddress)
{
    TCPInputDevice device;
    attachTcpInputDialogs(device, nullptr);
    SampleCallback callback = [](int16_t, int16_t) {};

    ModalAnswerer answerer([](TCPInputDialog* dialog) {
        EXPECT_EQ(dialog->box_ipaddr->text(), "127.0.0.1") << "every prompt starts afresh";
        dialog->box_ipaddr->setText("localhost");
        dialog->box_port->setValue(1);
        dialog->box_bandwidth->setValue(2.5);
        dialog->box_format->setCurrentIndex(2);
        dialog->accept();
    });
    EXPECT_TRUE(device.open(callback));
    EXPECT_EQ(answerer.dialogs, 1);
    EXPECT_EQ(device.getSampleRate(), 2500000u);
    EXPECT_EQ(device.format(), IqFormat::F32);
    EXPECT_EQ(answerer.boxTitle, "Network Settings");
    EXPECT_EQ(answerer.boxText, "'localhost' is not a valid IP address!");
    EXPECT_TRUE(device.open(callback)) << "opened again: the dialog starts from its initial values";
    EXPECT_EQ(answerer.dialogs, 2);
}

TEST(TcpInputDialog, CancelFailsWithoutAWarning)
{
    TCPInputDevice device;
    attachTcpInputDialogs(device, nullptr);
    SampleCallback callback = [](int16_t, int16_t) {};
    ModalAnswerer answerer([](TCPInputDialog* dialog) { dialog->reject(); });
    EXPECT_TRUE(device.open(callback));
    EXPECT_EQ(answerer.dialogs, 1);
    EXPECT_EQ(answerer.boxText, "");
}
