#include "app/MainWindow.h"

#include "app/ReleaseNotes.h"
#include "app/StatusText.h"
#include "app/WindowPlacement.h"
#include "app/WindowScan.h"
#include "core/CpuInfo.h"
#include "core/Log.h"
#include "demod/PlSignalling.h"
#include "devices/SigmfMetadata.h"
#include "fec/FrameTag.h"
#include "devices/DeviceLibraries.h"
#include "devices/DeviceSettings.h"
#include "devices/TCPInputDevice.h"
#include "receiver/AutoSymbolRate.h"
#include "ui/DebugWindow.h"
#include "ui/EqualizerWindow.h"
#include "ui/TCPInputDialog.h"
#include "ui/IQPlot.h"
#include "ui/InputStreamMenu.h"
#include "ui/PowerLevels.h"
#include "ui/ScanDock.h"
#include "ui/ScrollablePages.h"
#include "ui/TraceDisplay.h"
#include "ui/WaterfallDisplay.h"
#include "ui/WorkerStatsWidget.h"
#include "ui_MainWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QStyleFactory>

#include <chrono>
#include <cmath>

namespace {

// The refresh sets a label only when its text changes: an unchanged label
// costs no layout and no repaint.
void showText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

QString powerOfTwoText(int v)
{
    return QString("1/%1").arg(quint64(1) << std::clamp(v, 0, 62));
}

} // namespace

MainWindow::MainWindow(const WindowOptions& options, WindowMessages shown, QWidget* parent)
    : QMainWindow(parent),
      messages(std::move(shown)),
      ui(std::make_unique<Ui::MainWindow>()),
      receiver(std::make_unique<Receiver>(settingsFor(kWindowProfile))),
      receiverChain(&receiver->chain())
{
    if (!messages.warning)
        messages.warning = [this](const QString& title, const QString& text) {
            QMessageBox::warning(this, title, text, QMessageBox::Ok);
        };
    if (!messages.information)
        messages.information = [this](const QString& title, const QString& text) {
            QMessageBox::information(this, title, text, QMessageBox::Ok);
        };

    LogLine() << "Loading generic settings...";
    general = loadGeneralSettings();
    receiver->createLdpcWorkers(general.ldpcThreads, general.ldpcDecoder);
    applyStyle();

    LogLine() << "Setting up GUI...";
    setUpGui(options);
    setUpDevices(options.radioLibraries != nullptr ? *options.radioLibraries : DeviceLibraries::system());
    startWorkers();
    // Height beyond what the controls want goes to the Spectrum View.
    ui->centralwidget->setMaximumHeight(ui->centralwidget->sizeHint().height());
    placeWindow(*this);
    constructing = false;
    LogLine() << "Init Complete! ";
}

void MainWindow::applyTraceRange()
{
    auto value = [](const QSpinBox* box) { return box->value() == box->minimum() ? NAN : double(box->value()); };
    ui->widget_spectrum_trace->setFixedRange(value(traceFloorBox), value(traceTopBox));
}

void MainWindow::fitLayout()
{
    // Down to 1280×720 every control stays usable: the pages scroll rather
    // than squeeze their rows, the constellation keeps its 256 pixels square
    // (one per image pixel), and the Spectrum View can be made low.
    makePagesScrollable(ui->tabs);
    ui->tabs->setMinimumWidth(480);
    ui->widget_iqplot->setFixedSize(IQPlot::kSize, IQPlot::kSize);
    ui->fl_info->setVerticalSpacing(2);
    ui->widget_waterfall->setMinimumSize(400, 120);
    ui->widget_spectrum_trace->setMinimumHeight(80);
    arrangeSpectrumView();
}

void MainWindow::arrangeSpectrumView()
{
    // Trace and waterfall share a splitter (the trace as high as one likes)
    // and the frequency axis: the waterfall leaves the trace's label strip
    // free.
    auto* splitter = new QSplitter(Qt::Vertical, ui->dock_spectrum_contents);
    splitter->setObjectName("split_spectrum");
    splitter->setChildrenCollapsible(false);
    ui->vl_spectrum->removeWidget(ui->widget_spectrum_trace);
    ui->vl_spectrum->removeWidget(ui->widget_waterfall);
    splitter->addWidget(ui->widget_spectrum_trace);
    auto* waterfallRow = new QWidget(splitter);
    auto* row = new QHBoxLayout(waterfallRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addSpacing(TraceDisplay::kLabelWidth);
    row->addWidget(ui->widget_waterfall);
    splitter->addWidget(waterfallRow);
    ui->widget_spectrum_trace->setClickTarget(ui->widget_waterfall);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 3);
    ui->vl_spectrum->addWidget(splitter);
    // The trace's dB range: where the user fixes it, or following the signal.
    auto rangeBox = [this](const char* name, int initial) {
        auto* box = new QSpinBox(ui->tab_spectrum);
        box->setObjectName(name);
        box->setRange(int(TraceDisplay::kLowestDb) - 1, int(TraceDisplay::kHighestDb));
        box->setSuffix(" dBFS");
        box->setSpecialValueText("Auto");
        box->setValue(initial);
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &MainWindow::applyTraceRange);
        return box;
    };
    traceFloorBox = rangeBox("box_trace_floor", int(TraceDisplay::kLowestDb) - 1);
    traceTopBox = rangeBox("box_trace_top", int(TraceDisplay::kLowestDb) - 1);
    traceFloorBox->setToolTip("The lowest level the spectrum trace shows; Auto: 5 dB below the noise floor.");
    traceTopBox->setToolTip("The highest level the spectrum trace shows; Auto: 5 dB above the peak.");
    ui->fl_spectrum->addRow("Trace floor:", traceFloorBox);
    ui->fl_spectrum->addRow("Trace top:", traceTopBox);
}

MainWindow::~MainWindow()
{
    saveWindowPlacement(*this);
    statusTimer.stop();
    drainTimer.stop();
    // Nothing reaches the window's slots from here on: its own signals, the
    // widgets', the timer's and the roll-off notifications.
    disconnect();
    for (QObject* child : findChildren<QObject*>())
        child->disconnect(this);
    statusTimer.disconnect();
    if (device != nullptr) {
        LogLine() << "Closing input device... ";
        saveDeviceSettings(device);
        device->close();
        device = nullptr;
    }
    // A scan or a measurement under way lets go of the band first.
    windowScan.reset();
    autoRate.reset();
    // Statistics rows leave the panel's layout as their workers stop; the
    // widgets go with the window.
    receiverChain->stop([this](Worker&) {
        if (QLayoutItem* item = ui->vl_workerstats->takeAt(0))
            delete item;
    });
    if (outputs.recording().isOpen()) {
        LogLine() << "Closing recoring file. ";
        outputs.recording().close();
        writeSigmfDescription();
    }
    outputs.applyNetMode(NetworkMode::Off, ui->box_udp_addr->text(), ui->box_udp_port->value());
    ui->box_udp_addr->setEnabled(true);
    ui->box_udp_port->setEnabled(true);
    LogLine() << "Cleaning up... ";
    // The chain deletes the LDPC workers, gives back the part block and
    // reports the pool last.
    receiverChain = nullptr;
    receiver.reset();
}

void MainWindow::showWarning(const QString& title, const QString& text)
{
    if (constructing) {
        LogLine() << title.toStdString() << ": " << text.toStdString();
        return;
    }
    messages.warning(title, text);
}

// ---------------------------------------------------------------- start-up

void MainWindow::applyStyle()
{
    const QStringList available = QStyleFactory::keys();
    LogLine() << "Available UI styles: (" << available.join(", ").toStdString() << ")";
    for (const QString& wanted : general.uiStyles) {
        for (const QString& offered : available) {
            if (offered.compare(wanted, Qt::CaseInsensitive) != 0)
                continue;
            LogLine() << "Applying UI Style '" << wanted.toStdString() << "' ...";
            QApplication::setStyle(QStyleFactory::create(offered));
            return;
        }
    }
}

// The receiver's controls show what it runs, from its settings: no control
// holds a value of its own.
void MainWindow::showReceiverSettings()
{
    const ReceiverSettings& s = receiver->settings();
    auto show = [](auto* control, auto value) {
        control->blockSignals(true);
        control->setValue(value);
        control->blockSignals(false);
    };
    ui->box_equ_mode->blockSignals(true);
    ui->box_equ_mode->setCurrentIndex(int(s.equalizer));
    ui->box_equ_mode->blockSignals(false);
    ui->cb_crec_fine_enabled->setChecked(s.carrierLoop);
    ui->box_spectrum_inversion->blockSignals(true);
    ui->box_spectrum_inversion->setCurrentIndex(s.spectrumAutomatic ? kSpectrumAutoIndex : s.spectrumInverted ? 0 : 1);
    ui->box_spectrum_inversion->blockSignals(false);
    show(ui->sld_rrc_taps, s.filterTaps / 16);
    ui->lbl_rrc_taps->setText(QString::number(s.filterTaps));
    show(ui->sld_tedgain, s.tedGain);
    ui->lbl_tedgain->setText(powerOfTwoText(s.tedGain));
    show(ui->sld_teddamp, s.tedDamping);
    ui->lbl_teddamp->setText(powerOfTwoText(s.tedDamping));
    show(ui->sld_crec_fine_gain, int(std::lround(s.carrierKp * 256.0f)));
    ui->lbl_crec_fine_gain->setText(QString::number(double(s.carrierKp), 'f', 4));
    // The slider holds 2 / Ki; a Ki of 0 (possible in the settings) is its slow end.
    show(ui->sld_crec_fine_damp, s.carrierKi > 0 ? int(std::lround(std::min(2.0f / s.carrierKi, 1e6f))) : ui->sld_crec_fine_damp->maximum());
    ui->lbl_crec_fine_damp->setText(QString::number(double(s.carrierKi), 'f', 4));
    show(ui->sld_cma_taps, s.equalizerTaps / 16);
    ui->lbl_cma_taps->setText(QString::number(s.equalizerTaps));
}

void MainWindow::setUpGui(const WindowOptions& options)
{
    ui->setupUi(this);
    setWindowTitle(QString::fromStdString(::windowTitle(cpuInfo())));
    fitLayout();

    showReceiverSettings();

    // A warning under the gain control while the input clips.
    clippingLabel = new QLabel("Input clipping: lower the gain", ui->tab_input);
    clippingLabel->setObjectName("lbl_clipping");
    clippingLabel->setStyleSheet("color: rgb(192, 0, 0); font-weight: bold;");
    clippingLabel->setToolTip("Samples arrive at full scale: the signal is distorted and may not decode.");
    {
        int row = -1;
        QFormLayout::ItemRole role;
        ui->fl_input->getWidgetPosition(ui->sld_bbgain, &row, &role);
        ui->fl_input->insertRow(row + 1, QString(), clippingLabel);
    }
    clippingLabel->hide();
    // The carrier's offset as the receiver found it, under the symbol rate.
    carrierLabel = new QLabel("Carrier: -", ui->grp_info);
    carrierLabel->setObjectName("lbl_carrier");
    carrierLabel->setToolTip("Where the carrier lies from the radio's frequency: the mixer's offset and what the "
                             "carrier loop follows on top of it.");
    ui->fl_info->insertRow(1, carrierLabel);

    // The standard buttons show which one is active; pressing it again does nothing.
    for (QPushButton* b : {ui->btn_std_s1, ui->btn_std_s2}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
    }

    // "Scan", then the streams of a signal that carries several, before Help.
    setUpScan();
    InputStreamMenu::Source streams;
    streams.streams = [this] { return receiverChain->inputStreams(); };
    streams.passed = [this] { return receiverChain->inputStream(); };
    streams.choose = [this](int isi) { receiver->setInputStream(isi); };
    ui->menubar->insertMenu(ui->menu_help->menuAction(), new InputStreamMenu(streams, this));

    overlayChoices = new QActionGroup(this);
    for (QAction* a : {ui->act_tpov_75p, ui->act_tpov_50p, ui->act_tpov_25p, ui->act_tpov_10p, ui->act_tpov_0p})
        overlayChoices->addAction(a);

    equalizerWindow = new EqualizerWindow(this);
    equalizerWindow->setClosedHandler([this] { ui->cb_cma_show->setChecked(false); });
    debugWindow = new DebugWindow(this);
    debugFeed = std::make_unique<DebugFeed>(*receiverChain);
    connect(debugWindow, &DebugWindow::iq_selection_changed, ui->box_iqsource, &QComboBox::setCurrentIndex);

    // The displays: the demodulator keeps symbols for the constellation,
    // the waterfall's clicks tune, the service list labels the band.
    receiver->showConstellation(true);
    connect(ui->widget_waterfall, &WaterfallDisplay::centerFreqChanged, this, &MainWindow::centerFreqChanged);
    connect(ui->widget_waterfall, &WaterfallDisplay::offsetFreqChanged, this, &MainWindow::offsetFreqChanged);
    WaterfallDisplay* waterfall = ui->widget_waterfall;
    receiverChain->setServiceListObserver([waterfall, relay = windowScan->relay()](const std::vector<std::string>& lines,
                                                                                const std::string& text) {
        relay->servicesListed(lines);
        QStringList list;
        for (const std::string& line : lines)
            list << QString::fromStdString(line);
        waterfall->setOverlayText(QString::fromStdString(text), list);
    });
    waterfall->setOverlayOpacity(overlayOpacity);

    connect(&statusTimer, &QTimer::timeout, this, &MainWindow::slot_60hz_timer_ovf);
    connect(&drainTimer, &QTimer::timeout, this, [this] {
        if (receiverChain->waitIdle(std::chrono::milliseconds(0)))
            finishStream();
    });
    outputs.setErrorReport([this](const QString& title, const QString& text) { showWarning(title, text); });
    receiver->setRollOffListener([this](float value) {
        ui->lbl_rolloff->setText(QString("Rolloff: %1").arg(double(value), 0, 'f', 2));
    });
    attachOutputSinks(*receiverChain, outputs);
    // Each MODCOD met, at the recorded sample its frame began at, for a SigMF
    // recording's description (any thread; the counts are atomic, the notes locked).
    receiverChain->setFrameResultObserver([this, relay = windowScan->relay()](const FrameTag& tag) {
        if (tag.result >= 0)
            sigmfNotes.frameDecoded(tag, outputs.recording());
        relay->frameReleased(tag);
    });
    receiverChain->setRollOffObserver(queuedRollOffNotification(this));

    showStandardControls();
    applyGeneralSettings();

    if (options.symbolRate) {
        const int rate = std::clamp(*options.symbolRate, ui->sld_srate->minimum(), ui->sld_srate->maximum());
        if (rate != *options.symbolRate)
            LogLine() << "--symbol-rate " << *options.symbolRate << ": outside the symbol-rate controls' range ("
                      << general.srMin << " to " << general.srMax << " ksym/s, sr_min and sr_max in config.ini); using "
                      << rate << " sym/s";
        ui->sld_srate->setValue(rate);
    }
    if (options.symbolRateAuto)
        autoRateBox->setChecked(true);
    if (options.standard == Standard::DvbS)
        on_btn_std_s1_clicked();
    if (options.carrierLoop && *options.carrierLoop != ui->cb_crec_fine_enabled->isChecked())
        ui->cb_crec_fine_enabled->click();
}

// The "Scan" action and the carriers dock beside the Spectrum View; the
// symbol rate's "Auto" choice beside its presets.
void MainWindow::setUpScan()
{
    carriersDock = new ScanDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, carriersDock);
    splitDockWidget(ui->dock_spectrum, carriersDock, Qt::Horizontal);
    carriersDock->hide();
    WindowScan::Input input;
    input.connected = [this] { return device != nullptr; };
    input.centreHz = [this]() -> std::optional<double> {
        if (device == nullptr)
            return std::nullopt;
        return double(device->getFrequency());
    };
    input.oscillatorsHz = {general.freqLo0 * 1e6, general.freqLo1 * 1e6};
    input.freeBand = [this] { setSymbolRateAuto(false); };
    windowScan = std::make_unique<WindowScan>(*receiver, carriersDock, ui->widget_waterfall, input);
    connect(windowScan.get(), &WindowScan::tuningChanged, this, &MainWindow::showTuning);
    windowScan->inputChanged();   // no input yet: nothing to scan

    scanMenuAction = new QAction("&Scan", this);
    scanMenuAction->setObjectName("act_scan");
    scanMenuAction->setToolTip("Find the carriers of the band and list them in the Carriers dock");
    ui->menubar->insertAction(ui->menu_help->menuAction(), scanMenuAction);
    connect(scanMenuAction, &QAction::triggered, this, [this] {
        if (carriersDock->isHidden()) {
            // Wide enough for its columns beside the Spectrum View.
            carriersDock->show();
            resizeDocks({carriersDock}, {std::max(width() * 9 / 20, 480)}, Qt::Horizontal);
        }
        carriersDock->raise();
        if (device != nullptr && !windowScan->scanning())
            windowScan->start();
    });

    autoRateBox = new QCheckBox("Auto", ui->box_srate->parentWidget());
    autoRateBox->setObjectName("cb_srate_auto");
    autoRateBox->setToolTip("Measure the symbol rate of the carrier the receiver is tuned to (Symbol rate: Auto)");
    ui->hl_srate->addWidget(autoRateBox);
    connect(autoRateBox, &QCheckBox::toggled, this, &MainWindow::setSymbolRateAuto);
}

void MainWindow::setSymbolRateAuto(bool on)
{
    if (autoRateBox->isChecked() != on) {
        autoRateBox->setChecked(on);   // comes back here through toggled
        return;
    }
    if (!on) {
        autoRate.reset();
        return;
    }
    windowScan->yieldBand();
    if (device != nullptr && !autoRate) {
        LogLine() << "Measuring the symbol rate";
        autoRate = std::make_unique<AutoSymbolRate>(*receiver);
    }
}

// Owner thread, at each refresh: once the rate is known the controls show it.
void MainWindow::followAutoRate()
{
    if (!autoRate || !autoRate->step())
        return;
    const SurveyedCarrier c = *autoRate->carrier();
    showTuning(QString());
    autoRateBox->setToolTip(QString("Measured: %1 symbols/s, carrier at %2 kHz")
                                .arg(receiver->settings().symbolRate)
                                .arg(c.offsetHz / 1e3, 0, 'f', 1));
}

void MainWindow::showTuning(const QString& limited)
{
    if (!limited.isEmpty())
        LogLine() << limited.toStdString();
    const ReceiverSettings& s = receiver->settings();
    const QSignalBlocker sliderQuiet(ui->sld_srate);
    const QSignalBlocker boxQuiet(ui->box_srate);
    const QSignalBlocker rateQuiet(ui->box_depuncture);
    ui->sld_srate->setValue(s.symbolRate);
    ui->box_srate->setValue(int(std::lround(s.symbolRate / 1000.0)));
    ui->box_depuncture->setCurrentIndex(int(s.codeRate));
    showStandardControls();
    showDecimation();
}

void MainWindow::applyGeneralSettings()
{
    if (general.iqPlotColour)
        iqPlotDotColour = *general.iqPlotColour;
    ui->widget_iqplot->setDotColour(iqPlotDotColour);
    updateBandLabels(ui->sld_freq->value());

    // The symbol-rate controls: the slider in sym/s, the box in ksym/s.
    const int rate = ui->sld_srate->value();
    ui->sld_srate->blockSignals(true);
    ui->box_srate->blockSignals(true);
    ui->sld_srate->setRange(general.srMin * 1000, general.srMax * 1000);
    ui->box_srate->setRange(general.srMin, general.srMax);
    ui->sld_srate->setValue(std::clamp(rate, general.srMin * 1000, general.srMax * 1000));
    ui->box_srate->setValue(ui->sld_srate->value() / 1000);
    ui->sld_srate->blockSignals(false);
    ui->box_srate->blockSignals(false);

    ui->box_srate_preset->blockSignals(true);
    ui->box_srate_preset->clear();
    for (int preset : general.srPresets)
        ui->box_srate_preset->addItem(QString::number(preset));
    ui->box_srate_preset->setCurrentIndex(-1);
    ui->box_srate_preset->blockSignals(false);

    ui->box_udp_addr->setText(general.ipOutAddr);
    ui->box_udp_port->setValue(general.ipOutPort);
    // Applied by choosing it, as the user would.
    ui->box_net_mode->setCurrentIndex(int(general.ipOutMode));
}

void MainWindow::setUpDevices(const DeviceLibraries& radioLibraries)
{
    LogLine() << "Enumerating Devices... ";
    enumerator = std::make_unique<DeviceEnumerator>(radioLibraries);
    for (const QString& address : general.iioNetContexts)
        enumerator->addNetworkContext(address.toUtf8().constData());
    devices = enumerator->devices();
    for (InputDevice* d : devices)
        ui->box_devlist->addItem(QString::fromStdString(d->getDeviceName()));
    ui->btn_dcon->setEnabled(!devices.empty());

    TCPInputDevice& tcp = enumerator->tcpDevice();
    attachTcpInputDialogs(tcp, this);
    tcp.setErrorReporter([this](const QString& title, const QString& text) { showWarning(title, text); });
    // A fast server is held back by TCP flow control while the chain is behind.
    tcp.setFlowControl([this]() { return receiverChain->readyForInput(); });
    // The connection is made while the window goes on ("Connecting…" on the
    // button); a server that refuses or never answers brings the button up
    // again, after its message.
    tcp.setConnectHandler([this](bool connected) {
        QMetaObject::invokeMethod(
            this,
            [this, connected]() {
                if (device != &enumerator->tcpDevice())
                    return;
                if (connected)
                    ui->btn_dcon->setText("Disconnect");
                else
                    ui->btn_dcon->setChecked(false);
            },
            Qt::QueuedConnection);
    });
    // The server ended the connection: disconnect once the device has
    // returned from its delivery.
    tcp.setDisconnectHandler([this]() {
        QMetaObject::invokeMethod(
            this,
            [this]() {
                if (device == &enumerator->tcpDevice())
                    ui->btn_dcon->setChecked(false);
            },
            Qt::QueuedConnection);
    });
}

void MainWindow::startWorkers()
{
    receiverChain->start([this](Worker& worker) {
        auto* row = new WorkerStatsWidget(QString::fromStdString(worker.className()), ui->grp_workerstats);
        ui->vl_workerstats->addWidget(row);
        statsRows.push_back(row);
    });
}

void MainWindow::connectTcp(const TcpInputSettings& tcp)
{
    TCPInputDevice& input = enumerator->tcpDevice();
    const auto it = std::find(devices.begin(), devices.end(), &input);
    if (it == devices.end())
        return;
    if (ui->btn_dcon->isChecked())
        ui->btn_dcon->setChecked(false);
    ui->box_devlist->setCurrentIndex(int(it - devices.begin()));
    input.setSettingsPrompt([tcp]() -> std::optional<TcpInputSettings> { return tcp; });
    ui->btn_dcon->setChecked(true);
    attachTcpInputDialogs(input, this);
    input.setErrorReporter([this](const QString& title, const QString& text) { showWarning(title, text); });
}

// ---------------------------------------------------------------- device

void MainWindow::on_btn_dcon_toggled(bool checked)
{
    ui->btn_dcon->setText(checked ? "Disconnect" : "Connect");
    if (device != nullptr) {
        // The log says why; the status bar says it where the user looks.
        if (!saveDeviceSettings(device))
            ui->statusbar->showMessage(QString("The settings of %1 could not be saved to %2.")
                                           .arg(QString::fromStdString(device->getDeviceName()), kDeviceSettingsFile));
        device->close();
    }
    if (!checked) {
        deviceClosed();
        return;
    }
    const int index = ui->box_devlist->currentIndex();
    if (index < 0 || size_t(index) >= devices.size()) {
        ui->btn_dcon->setChecked(false);
        return;
    }
    // A stream still draining from the device before ends first: its
    // recording is not the new device's.
    if (drainTimer.isActive()) {
        receiverChain->waitIdle(std::chrono::seconds(2));
        finishStream();
    }
    device = devices[size_t(index)];
    loadDeviceSettings(*device);
    // Radios hand over whole converted buffers; the chain gathers them into
    // its blocks as it does single samples.
    device->setBlockCallback(&receiverChain->blockCallback());
    if (device->open(receiverChain->sampleCallback())) {
        // The disconnect path runs (and saves the settings) as the button
        // comes up.
        ui->btn_dcon->setChecked(false);
        device = nullptr;
        return;
    }
    if (device == &enumerator->tcpDevice() && enumerator->tcpDevice().connecting())
        ui->btn_dcon->setText("Connecting…");
    deviceOpened();
}

void MainWindow::deviceOpened()
{
    ticksSinceReadings = kReadingTicks - 1;   // readings at the first refresh
    ui->box_devlist->setEnabled(false);

    ui->box_bandwidth->blockSignals(true);
    ui->box_bandwidth->clear();
    const std::vector<uint64_t> rates = device->getSampleRates();
    int chosen = 0;
    for (size_t i = 0; i < rates.size(); ++i) {
        ui->box_bandwidth->addItem(QString::number(rates[i]));
        if (rates[i] == device->getSampleRate())
            chosen = int(i);
    }
    ui->box_bandwidth->setCurrentIndex(chosen);
    ui->box_bandwidth->blockSignals(false);

    // The controls take the device's ranges and its (stored) settings with
    // their signals blocked: a range that clamps the old value would send
    // the clamped value to the device before its own is shown. Then every
    // setting goes to the device once: some radios take the frequency and
    // gain only at the next call, and would stay on the library's own.
    const QSignalBlocker gainQuiet(ui->sld_bbgain);
    const QSignalBlocker freqQuiet(ui->sld_freq);
    const QSignalBlocker freqBoxQuiet(ui->box_freq);
    const QSignalBlocker filterQuiet(ui->sld_filter);
    const int gain = device->getGain();
    ui->sld_bbgain->setRange(device->getMinGain(), device->getMaxGain());
    ui->sld_bbgain->setValue(gain);
    const int minKHz = int(std::min<unsigned>(device->getMinFrequency(), INT32_MAX));
    const int maxKHz = int(std::min<unsigned>(device->getMaxFrequency(), INT32_MAX));
    const uint64_t hz = device->getFrequency();
    const int kHz = int(std::clamp<uint64_t>(hz / 1000, uint64_t(minKHz), uint64_t(maxKHz)));
    ui->sld_freq->setRange(minKHz, maxKHz);
    ui->sld_freq->setValue(kHz);
    ui->box_freq->setRange(minKHz * 0.001, maxKHz * 0.001);
    ui->box_freq->setValue(kHz * 0.001);
    ui->sld_filter->setEnabled(device->hasFilterBandwidth());
    ui->sld_filter->setValue(int(std::min<uint64_t>(device->getFilterBandwidth(), uint64_t(ui->sld_filter->maximum()))));
    // Within the device's ranges: a stored value beyond them goes as the
    // controls show it.
    device->setGain(ui->sld_bbgain->value());
    device->setFrequency(hz / 1000 == uint64_t(kHz) ? hz : uint64_t(kHz) * 1000);
    if (device->hasFilterBandwidth())
        device->setFilterBandwidth(device->getFilterBandwidth());
    updateBandLabels(ui->sld_freq->value());

    recomputeFront();
    receiver->restartEqualizer();
    receiverChain->clearSpectrum();
    statusTimer.start(20);
    receiverChain->dvbsDecoding().requestSyncReset();
    LogLine() << "device has been opened.";
    windowScan->inputChanged();
    if (autoRateBox->isChecked())
        setSymbolRateAuto(true);
}

void MainWindow::deviceClosed()
{
    statusTimer.stop();
    device = nullptr;
    autoRate.reset();
    windowScan->inputEnded();
    windowScan->inputChanged();
    // The samples the device delivered are still on their way through the
    // chain (seconds of them when a fast source outran a slow machine):
    // they reach the outputs and the recording before the stream ends,
    // without the window waiting for them.
    if (receiverChain->waitIdle(std::chrono::milliseconds(0)))
        finishStream();
    else
        drainTimer.start(20);
    ui->box_devlist->setEnabled(true);
    ui->sld_filter->setEnabled(false);
    LogLine() << "disconnected";
}

void MainWindow::finishStream()
{
    drainTimer.stop();
    receiverChain->endOfStream();   // the stream is broken off: its last packet goes out
    closeRecording();
    ui->btn_rec->blockSignals(true);
    ui->btn_rec->setChecked(false);
    ui->btn_rec->blockSignals(false);
    if (recordDialog != nullptr)
        recordDialog->hide();
    ui->box_rectype->setEnabled(true);
    ui->box_rectype->setCurrentIndex(0);
}

void MainWindow::recomputeFront()
{
    if (device == nullptr)
        return;
    showSymbolRateLimit(receiver->setFront(device->getSampleRate(), decimationExponent, ui->sld_srate->value()));
}

// Only a rate the receiver can run at this sample rate: the controls show the
// rate it runs at.
void MainWindow::showSymbolRateLimit(const std::string& limited)
{
    showDecimation();
    if (limited.empty())
        return;
    LogLine() << limited;
    const int32_t rate = receiver->settings().symbolRate;
    ui->sld_srate->blockSignals(true);
    ui->box_srate->blockSignals(true);
    ui->sld_srate->setValue(rate);
    ui->box_srate->setValue(rate / 1000);
    ui->sld_srate->blockSignals(false);
    ui->box_srate->blockSignals(false);
}

// The automatic choice names the factor it runs with.
void MainWindow::showDecimation()
{
    const ReceiverSettings& s = receiver->settings();
    const QString text =
        s.decimation == kAutoDecimation ? QString("Auto (%1)").arg(1 << decimationFor(s)) : QString("Auto");
    if (ui->box_decimate->itemText(0) != text)
        ui->box_decimate->setItemText(0, text);
}

void MainWindow::on_box_bandwidth_currentIndexChanged(int index)
{
    if (device == nullptr || index < 0)
        return;
    device->setSampleRateIndex(unsigned(index));
    recomputeFront();
}

void MainWindow::on_box_decimate_currentIndexChanged(int index)
{
    // "Auto" first, then the factors 1, 2, 4 … as exponents 0, 1, 2 …
    decimationExponent = index <= 0 ? kAutoDecimation : index - 1;
    if (device != nullptr)
        recomputeFront();
    showDecimation();
}

void MainWindow::on_sld_freq_valueChanged(int kHz)
{
    if (device != nullptr)
        device->setFrequency(uint64_t(kHz) * 1000);
    ui->box_freq->blockSignals(true);
    ui->box_freq->setValue(kHz * 0.001);
    ui->box_freq->blockSignals(false);
    updateBandLabels(kHz);
}

void MainWindow::on_sld_freq_sliderMoved(int kHz)
{
    ui->box_freq->blockSignals(true);
    ui->box_freq->setValue(kHz * 0.001);
    ui->box_freq->blockSignals(false);
    updateBandLabels(kHz);
}

void MainWindow::on_box_freq_valueChanged(double mhz)
{
    ui->sld_freq->setValue(int(std::lround(mhz * 1000)));
    updateBandLabels(int(std::lround(mhz * 1000)));
}

void MainWindow::updateBandLabels(int kHz)
{
    const double mhz = kHz * 0.001;
    // To the kHz, without trailing zeros: QString's default six significant
    // digits show only 100 kHz steps above 10 GHz.
    ui->lbl_lofreq->setText(QString("Lo Freq: %1 MHz").arg(general.freqLo0 + mhz, 0, 'g', 12));
    ui->lbl_hifreq->setText(QString("Hi Freq: %1 MHz").arg(general.freqLo1 + mhz, 0, 'g', 12));
}

void MainWindow::centerFreqChanged(float position)
{
    if (device == nullptr)
        return;
    const double step = double(position) * 0.0005 * double(device->getSampleRate());
    ui->sld_freq->setValue(ui->sld_freq->value() + int(std::lround(step)));
}

void MainWindow::offsetFreqChanged(float position)
{
    receiver->setMixerOffset(0.5 * double(position));
}

void MainWindow::on_sld_bbgain_valueChanged(int gain)
{
    if (device != nullptr)
        device->setGain(gain);
}

void MainWindow::on_sld_filter_valueChanged(int hz)
{
    LogLine() << "Setting device filter bandwidth to " << hz;
    if (device != nullptr)
        device->setFilterBandwidth(uint64_t(std::max(hz, 0)));
}

// ---------------------------------------------------------------- receiver

void MainWindow::on_sld_srate_valueChanged(int symbolRate)
{
    // A rate given by hand: no more measuring.
    setSymbolRateAuto(false);
    ui->box_srate->blockSignals(true);
    ui->box_srate->setValue(int(std::lround(symbolRate / 1000.0)));
    ui->box_srate->blockSignals(false);
    // Without a device the slider holds the rate until one's sample rate
    // can carry it.
    if (device != nullptr)
        showSymbolRateLimit(receiver->setSymbolRate(symbolRate));
}

void MainWindow::on_box_srate_valueChanged(int ksym)
{
    ui->sld_srate->setValue(ksym * 1000);
}

void MainWindow::on_box_srate_preset_currentIndexChanged(const QString& text)
{
    bool ok = false;
    const int ksym = text.toInt(&ok);
    if (ok)
        ui->box_srate->setValue(ksym);
}

void MainWindow::on_sld_rrc_taps_valueChanged(int v)
{
    receiver->setFilterTaps(16 * v);
    ui->lbl_rrc_taps->setText(QString::number(16 * v));
}

void MainWindow::rolloffChangeNotification(float value)
{
    receiver->applyRollOff(value);
}

void MainWindow::on_sld_tedgain_valueChanged(int v)
{
    receiver->setTimingLoop(v, receiver->settings().tedDamping);
    ui->lbl_tedgain->setText(powerOfTwoText(v));
}

void MainWindow::on_sld_teddamp_valueChanged(int v)
{
    receiver->setTimingLoop(receiver->settings().tedGain, v);
    ui->lbl_teddamp->setText(powerOfTwoText(v));
}

void MainWindow::on_box_spectrum_inversion_currentIndexChanged(int index)
{
    // "Auto" starts from the standard's sense and lets the framing turn it
    // over; the other two hold the sense chosen.
    receiver->setSpectrumSense(index == kSpectrumAutoIndex, index == 0);
}

void MainWindow::on_btn_std_s1_clicked()
{
    switchStandard(Standard::DvbS);
}

void MainWindow::on_btn_std_s2_clicked()
{
    switchStandard(Standard::DvbS2);
}

void MainWindow::switchStandard(Standard standard)
{
    if (standard == receiver->settings().standard)
        return;
    LogLine() << (standard == Standard::DvbS ? "Switching mode to DVB-S1" : "Switching mode to DVB-S2");
    receiver->setStandard(standard);
    showStandardControls();
}

void MainWindow::showStandardControls()
{
    const bool s2 = receiver->settings().dvbS2();
    ui->lbl_modcode->setVisible(s2);
    ui->lbl_pilots->setVisible(s2);
    ui->lbl_frametype->setVisible(s2);
    ui->grp_dvbs->setVisible(!s2);
    ui->btn_std_s1->setChecked(!s2);
    ui->btn_std_s2->setChecked(s2);
}

void MainWindow::on_sld_derotate_valueChanged(int v)
{
    receiver->setDerotation(v);
}

void MainWindow::on_btn_fec_skip_clicked()
{
    receiver->skipSoftValue();
}

void MainWindow::on_cb_rsdecoder_clicked(bool on)
{
    receiver->setReedSolomon(on);
}

void MainWindow::on_box_depuncture_currentIndexChanged(int index)
{
    if (index >= 0 && index <= 4)
        receiver->setCodeRate(CodeRate(index));
}

void MainWindow::on_cb_keep_lock_clicked(bool on)
{
    receiver->setKeepLock(on);
}

void MainWindow::on_box_ldpc_enable_clicked(bool on)
{
    receiver->setLdpcDecoding(on);
}

void MainWindow::on_cb_crec_fine_enabled_clicked(bool on)
{
    receiver->setCarrierLoop(on);
}

void MainWindow::on_sld_crec_fine_gain_valueChanged(int v)
{
    receiver->setCarrierKp(float(v) / 256.0f);
    ui->lbl_crec_fine_gain->setText(QString::number(double(receiver->settings().carrierKp), 'f', 4));
}

void MainWindow::on_sld_crec_fine_damp_valueChanged(int v)
{
    receiver->setCarrierKi(2.0f / float(std::max(v, 1)));
    ui->lbl_crec_fine_damp->setText(QString::number(double(receiver->settings().carrierKi), 'f', 4));
}

void MainWindow::on_box_equ_mode_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    receiver->setEqualizer(EqualizerMode(std::clamp(index, 0, 2)));
}

void MainWindow::on_btn_equ_reset_clicked()
{
    receiver->restartEqualizer();
}

void MainWindow::on_sld_cma_taps_valueChanged(int v)
{
    receiver->setEqualizerTaps(16 * v);
    ui->lbl_cma_taps->setText(QString::number(16 * v));
}

void MainWindow::on_sld_cma_gain_valueChanged(int v)
{
    const double mu = 0.01 / std::sqrt(double(std::max(v, 1)));
    receiver->setEqualizerStep(float(mu));
    ui->lbl_cma_gain->setText(QString::number(mu, 'f', 6));
}

void MainWindow::on_cb_update_coeffs_clicked(bool on)
{
    receiver->setEqualizerAdapting(on);
}

void MainWindow::on_cb_cma_show_clicked(bool on)
{
    equalizerWindow->setVisible(on);
}

// ---------------------------------------------------------------- spectrum

void MainWindow::on_sld_fftsize_valueChanged(int n)
{
    const int size = 1 << std::clamp(n, 8, 13);
    ui->box_fftsize->setText(QString::number(size));
    receiverChain->setFftSize(size);
}

void MainWindow::on_sld_fft_gain_valueChanged(int v)
{
    receiverChain->setFftScale(32768.0f / float(std::max(v, 1)));
}

void MainWindow::setOverlayOpacity(double opacity)
{
    overlayOpacity = opacity;
    ui->widget_waterfall->setOverlayOpacity(opacity);
}

void MainWindow::on_act_tpov_75p_triggered()
{
    setOverlayOpacity(0.75);
}

void MainWindow::on_act_tpov_50p_triggered()
{
    setOverlayOpacity(0.5);
}

void MainWindow::on_act_tpov_25p_triggered()
{
    setOverlayOpacity(0.25);
}

void MainWindow::on_act_tpov_10p_triggered()
{
    setOverlayOpacity(0.1);
}

void MainWindow::on_act_tpov_0p_triggered()
{
    setOverlayOpacity(0);
}

void MainWindow::on_act_view_spectrum_trace_toggled(bool on)
{
    ui->widget_spectrum_trace->setVisible(on);
}

void MainWindow::on_act_view_fft_show_fir_triggered()
{
    showFftAfterFilter = ui->act_view_fft_show_fir->isChecked();
}

// ---------------------------------------------------------------- outputs

void MainWindow::on_box_net_mode_currentIndexChanged(int index)
{
    applyNetMode(index);
}

void MainWindow::applyNetMode(int mode)
{
    const NetworkMode wanted = mode == 1 ? NetworkMode::Udp : mode == 2 ? NetworkMode::TcpServer : NetworkMode::Off;
    const NetworkMode now = outputs.applyNetMode(wanted, ui->box_udp_addr->text(), ui->box_udp_port->value());
    if (now != wanted) {
        // The sinks reported why and switched off: the chooser follows.
        ui->box_net_mode->blockSignals(true);
        ui->box_net_mode->setCurrentIndex(0);
        ui->box_net_mode->blockSignals(false);
    }
    const bool editable = now == NetworkMode::Off;
    ui->box_udp_addr->setEnabled(editable);
    ui->box_udp_port->setEnabled(editable);
}

void MainWindow::on_box_rectype_currentIndexChanged(int index)
{
    outputs.recording().setType(RecordType(std::clamp(index, 0, 2)));
}

void MainWindow::on_btn_rec_toggled(bool on)
{
    ui->box_rectype->setEnabled(!on);
    if (on) {
        // Made when first needed: a file dialog watches the file system
        // with a thread of its own.
        if (recordDialog == nullptr) {
            recordDialog = new QFileDialog(this, "Recording file");
            recordDialog->setFileMode(QFileDialog::AnyFile);
            recordDialog->setAcceptMode(QFileDialog::AcceptSave);
            recordDialog->setViewMode(QFileDialog::Detail);
            recordDialog->setWindowModality(Qt::WindowModal);
            connect(recordDialog, &QFileDialog::fileSelected, this, &MainWindow::slot_rec_file_chosen);
            // Cancelled: nothing records, so the button does not say so.
            connect(recordDialog, &QFileDialog::rejected, this, [this] { ui->btn_rec->setChecked(false); });
        }
        recordDialog->show();
        return;
    }
    if (recordDialog != nullptr)
        recordDialog->hide();
    closeRecording();
}

void MainWindow::slot_rec_file_chosen(const QString& name)
{
    // Samples to NAME.sigmf-data (or .sigmf-meta): a SigMF recording, its
    // description written beside the samples when it closes.
    const bool sigmf = outputs.recording().type() == RecordType::Samples && isSigmfPath(name.toStdString());
    const QString path = sigmf ? QString::fromStdString(sigmfDataPath(name.toStdString())) : name;
    if (!outputs.recording().open(path)) {
        ui->btn_rec->setChecked(false);
        return;
    }
    sigmfRecordingPath = sigmf ? path.toStdString() : std::string();
    sigmfNotes.clear();
    ui->lbl_recsize->setText(recordingSizeText(0));
}

bool MainWindow::startRecording(RecordType type, const QString& path)
{
    ui->btn_rec->setChecked(false);
    ui->box_rectype->setCurrentIndex(int(type));
    ui->btn_rec->blockSignals(true);
    ui->btn_rec->setChecked(true);
    ui->btn_rec->blockSignals(false);
    ui->box_rectype->setEnabled(false);
    slot_rec_file_chosen(path);
    return outputs.recording().isOpen();
}

void MainWindow::closeRecording()
{
    outputs.recording().close();
    writeSigmfDescription();
}

void MainWindow::writeSigmfDescription()
{
    if (sigmfRecordingPath.empty())
        return;
    std::optional<double> frequency;
    std::string hardware;
    if (device != nullptr) {
        hardware = device->getDeviceName();
        if (device->getMaxFrequency() > 0)
            frequency = double(device->getFrequency());
    }
    std::string error;
    if (!writeSigmfMeta(sigmfMetaPath(sigmfRecordingPath),
                        sigmfNotes.describe(receiver->settings(), "tavirel", hardware, frequency), error))
        LogLine() << "SigMF description could not be written: " << error;
    sigmfRecordingPath.clear();
}

// ---------------------------------------------------------------- status

void MainWindow::slot_60hz_timer_ovf()
{
    ProcessingChain& chain = *receiverChain;
    DemodWorker& demod = chain.demodWorker();

    followAutoRate();

    // 1. A waterfall line once more than 15 spectra are in.
    if (chain.takeSpectrum(spectrumLine)) {
        spectrumLevels.resize(spectrumLine.size());
        waterfallValues.resize(spectrumLine.size());
        std::transform(spectrumLine.begin(), spectrumLine.end(), spectrumLevels.begin(), spectrumDbfs);
        std::transform(spectrumLevels.begin(), spectrumLevels.end(), waterfallValues.begin(), waterfallLevel);
        ui->widget_waterfall->addLine(waterfallValues);
        if (ui->widget_spectrum_trace->isVisible())
            ui->widget_spectrum_trace->setLevels(spectrumLevels);
    }

    // 2. Worker loads (and the demodulator's MER), every few refreshes.
    const bool readingsDue = ++ticksSinceReadings >= kReadingTicks;
    if (readingsDue)
        ticksSinceReadings = 0;
    // Locked while frames decode and samples come; otherwise the MER of
    // what was received before would read as the signal's.
    const std::string receptionProblem = chain.receptionProblem();
    SignalQualityReading quality = readingsDue ? demod.signalQuality() : SignalQualityReading{};
    if (!receptionProblem.empty())
        quality.merValid = false;
    const std::vector<Worker*>& workers = chain.workers();
    // A stalled input leaves the workers idle: their last loads are not theirs now.
    const bool stalled = receptionProblem.compare(0, 8, "no input") == 0;
    for (size_t i = 0; readingsDue && i < statsRows.size() && i < workers.size(); ++i) {
        statsRows[i]->setLoad(stalled ? 0 : workers[i]->loadSum());
        if (workers[i] == &demod)
            statsRows[i]->setDetail(merDetailText(quality));
    }

    // 3. The constellation's source, 4. the symbols since the last refresh,
    // drawn here, 5. its fading and repaint.
    receiver->setDisplaySource(DisplaySource(std::clamp(ui->box_iqsource->currentIndex(), 0, 3)));
    ui->widget_iqplot->setReference(receiver->takeDisplaySymbols(plotSymbols));
    ui->widget_iqplot->showSymbols(plotSymbols);
    ui->widget_iqplot->fade(stalled);

    // 6. The recording's size.
    if (outputs.recording().isOpen())
        showText(ui->lbl_recsize, recordingSizeText(outputs.recording().bytesWritten()));

    // 7. Sync confidence.
    const int confidence = receiver->settings().dvbS2() ? demod.lockCounter() : chain.dvbsDecoding().status().confidence;
    const bool connected = device != nullptr;
    showText(ui->sync_confidence, syncConfidenceText(confidence, connected ? receptionProblem : std::string()));
    const QColor colour = connected && !receptionProblem.empty() ? syncConfidenceColour(receiver->settings().dvbS2(), 0)
                                                                 : syncConfidenceColour(receiver->settings().dvbS2(), confidence);
    if (colour != syncColour) {
        syncColour = colour;
        QPalette p = ui->sync_confidence->palette();
        p.setColor(QPalette::WindowText, colour);
        ui->sync_confidence->setPalette(p);
    }

    // Clipping: the count of full-scale samples rose within the last second.
    if (readingsDue) {
        const auto now = std::chrono::steady_clock::now();
        const uint64_t clipped = chain.clippedSamples();
        if (clipped > clippedSeen) {
            clippedSeen = clipped;
            lastClipping = now;
        }
        const bool clipping = connected && lastClipping.time_since_epoch().count() != 0 &&
                              now - lastClipping < std::chrono::seconds(1);
        if (clippingLabel->isVisible() != clipping)
            clippingLabel->setVisible(clipping);
    }

    // 8. Equalizer taps.
    if (ui->cb_cma_show->isChecked()) {
        const std::vector<double> magnitudes = equalizerTapMagnitudes(demod.equalizerTaps());
        equalizerWindow->setMagnitudes(magnitudes);
    }

    // 9. Labels, 10. the waterfall's annotations.
    refreshLabels(readingsDue);
    if (readingsDue) {
        showText(ui->lbl_snr, merText(quality));
        const QString esn0 = esn0Text(quality);
        if (ui->lbl_snr->toolTip() != esn0)
            ui->lbl_snr->setToolTip(esn0);
        const DecodingErrors errors = receiver->counters();
        showText(ui->lbl_errors, decodingErrorsText(receiver->settings().dvbS2(), errors));
        const QString details = decodingErrorsToolTip(receiver->settings().dvbS2(), errors);
        if (ui->lbl_errors->toolTip() != details)
            ui->lbl_errors->setToolTip(details);
    }
    if (device != nullptr) {
        const uint64_t fs = device->getSampleRate();
        // The mixer where it stands: where a click put it, or where the
        // receiver moved it to follow the carrier it found.
        ui->widget_waterfall->setOffsetPosition(float(2.0 * chain.basebandWorker().getPhaseIncrement()));
        ui->widget_waterfall->setAnnotations(device->getFrequency(), fs, float(receiver->settings().symbolRate), receiver->settings().rollOff);
        ui->widget_spectrum_trace->setBand(ui->widget_waterfall->offsetPosition(), float(receiver->settings().symbolRate),
                                           receiver->settings().rollOff, overlayOpacity > 0 ? fs : 0);
        ui->widget_spectrum_trace->setTuning(double(device->getFrequency()), double(fs), general.freqLo0,
                                             general.freqLo1);
    }

    const bool debugOpen = debugWindow->isVisible();
    debugFeed->setWanted(debugOpen);
    if (debugOpen)
        debugFeed->refresh(*debugWindow, receiver->settings().symbolRate);
}

void MainWindow::refreshLabels(bool readingsDue)
{
    ProcessingChain& chain = *receiverChain;
    const double fs = double(device != nullptr ? device->getSampleRate() : receiver->settings().sampleRate);
    const double ksym = chain.trackedSymbolsPerInputSample() * fs * 0.001;
    // Tracked rate and buffers in use move with every block: shown at the
    // readings' pace, each change repaints the panel behind the labels.
    if (readingsDue) {
        showText(ui->lbl_symrate, QString("Symbolrate: %0 ksym/s").arg(threeDigits(ksym)));
        showText(carrierLabel, receiver->settings().dvbS2() && chain.receiving() ? carrierOffsetText(chain.carrierOffset() * fs)
                                                                       : QString("Carrier: -"));
        showText(ui->lbl_bandwidth,
                 QString("Bandwidth: %0 KHz").arg(threeDigits(ksym * (1.0 + double(receiver->settings().rollOff)))));
        showText(ui->lbl_buffers,
                 QString("Buffers: %0 / %1").arg(chain.pool().allocatedCount()).arg(BufferAllocator::kSlotCount));
    }
    if (receiver->settings().dvbS2()) {
        // Only what frames that decoded said, and only while they decode:
        // headers read from noise (the mixer off the signal, say) spell
        // codes the stream does not carry.
        const int current = chain.currentPlsCode(chain.receiving());
        if (current >= 0) {
            const uint8_t pls = uint8_t(current);
            showText(ui->lbl_modcode, QString("Modcode: %1").arg(s2ModcodRow(plsModcod(pls)).name));
            showText(ui->lbl_pilots, plsPilots(pls) ? "Pilot symbols: on" : "Pilot symbols: off");
            showText(ui->lbl_frametype, plsShortFrame(pls) ? "Frame type: short" : "Frame type: long");
            showText(ui->lbl_rolloff, QString("Rolloff: %1").arg(double(receiver->settings().rollOff), 0, 'f', 2));
        } else {
            showText(ui->lbl_modcode, "Modcode: -");
            showText(ui->lbl_pilots, "Pilot symbols: -");
            showText(ui->lbl_frametype, "Frame type: -");
            showText(ui->lbl_rolloff, "Rolloff: -");
        }
    }
}

// ---------------------------------------------------------------- menus

void MainWindow::on_act_help_info_triggered()
{
    showReleaseNotes(this);
}

void MainWindow::on_act_debug_plots_triggered()
{
    receiver->requestFrameDump();
    debugWindow->frameDumpRequested(DemodWorker::kDumpFolder);
    debugFeed->setWanted(true);
    debugWindow->show();
}

void MainWindow::on_act_debug_fecframe_triggered()
{
}

void MainWindow::on_act_debug_modcode_triggered()
{
    DemodWorker& demod = receiverChain->demodWorker();
    std::array<ModcodStatistic, 128> statistics = demod.modcodStatistics();
    const QString text = modcodStatisticsText(demod.dvbS2Mode(), demod.locked(), statistics,
                                              std::chrono::steady_clock::now().time_since_epoch().count(),
                                              std::chrono::steady_clock::period::den);
    messages.information("DVB-S2 Stats", text);
}

void MainWindow::on_act_debug_workerstats_triggered(bool on)
{
    ui->grp_workerstats->setVisible(on);
    ui->tabs->setTabVisible(tabIndexOf(ui->tabs, ui->tab_workers), on);
}

void MainWindow::on_act_debug_sdt_toggled(bool on)
{
    receiverChain->setSdtTrace(on);
}

void MainWindow::on_act_debug_gse_toggled(bool on)
{
    if (on)
        receiverChain->startGseTrace();
}

void MainWindow::on_actionDebug_Resampler_toggled(bool on)
{
    receiver->setTimingTrace(on);
}

void MainWindow::on_act_quit_triggered()
{
    close();
}
