// The receiver's window: it owns the processing chain, the outputs and the
// input devices, turns every control into a call on the receiver, and
// refreshes the signal labels on a 20 ms timer.
#pragma once

#include "app/DebugFeed.h"
#include "app/GeneralSettings.h"
#include "app/WindowOptions.h"
#include "devices/DeviceEnumerator.h"
#include "receiver/ChainOutputs.h"
#include "receiver/ProcessingChain.h"
#include "receiver/Receiver.h"
#include "receiver/SigmfRecordingNotes.h"
#include "receiver/ReceiverSettings.h"
#include "stream/OutputSinks.h"

#include <QColor>
#include <QMainWindow>
#include <QTimer>

#include <complex>
#include <functional>
#include <chrono>
#include <memory>
#include <vector>

namespace Ui {
class MainWindow;
}
class AutoSymbolRate;
class DebugWindow;
class EqualizerWindow;
class QCheckBox;
class ScanDock;
class WindowScan;
class QActionGroup;
class QLabel;
class QSpinBox;
class QFileDialog;
class WorkerStatsWidget;

// How the window shows what the user must see: warnings (network output, TCP
// input) and information (the "DVB-S2 Stats"). Unset: message boxes.
struct WindowMessages {
    std::function<void(const QString& title, const QString& text)> warning;
    std::function<void(const QString& title, const QString& text)> information;
};

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Readings a person reads as numbers (worker loads, MER, tracked symbol
    // rate, buffers) move with every block: shown every kReadingTicks-th
    // status refresh (100 ms), steady enough to read and without
    // repainting the panels behind them at the refresh rate.
    static constexpr int kReadingTicks = 5;

    // Builds the chain, reads config.ini (in the working directory), lists
    // the devices and starts the workers, logging each step.
    explicit MainWindow(const WindowOptions& options = WindowOptions(), WindowMessages messages = WindowMessages(),
                        QWidget* parent = nullptr);
    // The shutdown order: device, workers, recording, network, chain.
    ~MainWindow() override;

    // What the receiver runs with and what it shows, for the tests and the
    // displays of the next pieces.
    ProcessingChain& chain() { return receiver->chain(); }
    OutputSinks& sinks() { return outputs; }
    const ReceiverSettings& receiverSettings() const { return receiver->settings(); }
    const GeneralSettings& generalSettings() const { return general; }
    InputDevice* currentDevice() const { return device; }
    Ui::MainWindow* form() const { return ui.get(); }
    int decimation() const { return decimationExponent; }
    double transponderOverlayOpacity() const { return overlayOpacity; }
    bool fftAfterMatchedFilter() const { return showFftAfterFilter; }
    // The constellation's dot colour: config.ini's ui_iqplot_rgb, else (16, 64, 192).
    QColor constellationColour() const { return iqPlotDotColour; }

    // Connects the TCP input with these settings, as if chosen in the list
    // and entered in its dialog.
    void connectTcp(const TcpInputSettings& tcp);

    // Records into `path` as if the type were chosen, Record pressed and the
    // file picked in its dialog. False when the file cannot be opened.
    bool startRecording(RecordType type, const QString& path);

    // The band scan and its dock; the symbol rate's "Auto" choice.
    WindowScan* bandScan() const { return windowScan.get(); }
    ScanDock* scanDock() const { return carriersDock; }
    QAction* scanAction() const { return scanMenuAction; }
    QCheckBox* symbolRateAutoBox() const { return autoRateBox; }
    bool measuringSymbolRate() const { return autoRate != nullptr; }

    EqualizerWindow* equalizerTapWindow() const { return equalizerWindow; }
    DebugWindow* debugPlotWindow() const { return debugWindow; }

public Q_SLOTS:
    void rolloffChangeNotification(float rollOff);
    void centerFreqChanged(float position);
    void offsetFreqChanged(float position);

private Q_SLOTS:
    void on_btn_dcon_toggled(bool checked);
    void on_sld_fftsize_valueChanged(int n);
    void on_sld_freq_valueChanged(int kHz);
    void on_sld_freq_sliderMoved(int kHz);
    void on_box_freq_valueChanged(double mhz);
    void on_sld_srate_valueChanged(int symbolRate);
    void on_box_srate_valueChanged(int ksym);
    void on_box_srate_preset_currentIndexChanged(const QString& text);
    void on_sld_derotate_valueChanged(int v);
    void on_sld_tedgain_valueChanged(int v);
    void on_sld_teddamp_valueChanged(int v);
    void on_sld_bbgain_valueChanged(int gain);
    void on_sld_rrc_taps_valueChanged(int v);
    void on_box_rectype_currentIndexChanged(int index);
    void on_btn_rec_toggled(bool on);
    void slot_rec_file_chosen(const QString& name);
    void on_act_help_info_triggered();
    void on_btn_fec_skip_clicked();
    void on_cb_rsdecoder_clicked(bool on);
    void on_sld_cma_taps_valueChanged(int v);
    void on_sld_cma_gain_valueChanged(int v);
    void on_box_equ_mode_currentIndexChanged(int index);
    void on_btn_equ_reset_clicked();
    void on_cb_update_coeffs_clicked(bool on);
    void on_cb_crec_fine_enabled_clicked(bool on);
    void on_sld_crec_fine_gain_valueChanged(int v);
    void on_sld_crec_fine_damp_valueChanged(int v);
    void on_box_depuncture_currentIndexChanged(int index);
    void on_box_bandwidth_currentIndexChanged(int index);
    void on_box_decimate_currentIndexChanged(int index);
    void on_box_spectrum_inversion_currentIndexChanged(int index);
    void on_sld_filter_valueChanged(int hz);
    void on_box_ldpc_enable_clicked(bool on);
    void on_btn_std_s1_clicked();
    void on_btn_std_s2_clicked();
    // The status refresh. The name is the one the window has always had; the
    // timer behind it runs every 20 ms, that is at 50 Hz.
    void slot_60hz_timer_ovf();
    void on_cb_cma_show_clicked(bool on);
    void on_act_tpov_75p_triggered();
    void on_act_tpov_50p_triggered();
    void on_act_tpov_25p_triggered();
    void on_act_tpov_10p_triggered();
    void on_act_tpov_0p_triggered();
    void on_act_view_fft_show_fir_triggered();
    void on_act_view_spectrum_trace_toggled(bool on);
    void on_act_debug_plots_triggered();
    void on_act_debug_fecframe_triggered();
    void on_act_debug_modcode_triggered();
    void on_cb_keep_lock_clicked(bool on);
    void on_sld_fft_gain_valueChanged(int v);
    void on_act_debug_workerstats_triggered(bool on);
    void on_box_net_mode_currentIndexChanged(int index);
    void on_act_debug_sdt_toggled(bool on);
    void on_act_debug_gse_toggled(bool on);
    void on_actionDebug_Resampler_toggled(bool on);
    void on_act_quit_triggered();

private:
    void showWarning(const QString& title, const QString& text);
    void applyStyle();
    void setUpGui(const WindowOptions& options);
    void fitLayout();
    void arrangeSpectrumView();
    void applyTraceRange();
    QSpinBox* traceFloorBox = nullptr;
    QSpinBox* traceTopBox = nullptr;
    void showReceiverSettings();
    void applyGeneralSettings();
    void setUpDevices(const DeviceLibraries& radioLibraries);
    void startWorkers();
    void applyNetMode(int mode);
    void closeRecording();
    void writeSigmfDescription();   // a SigMF recording's, as it closes
    void deviceOpened();
    void deviceClosed();
    void finishStream();            // the device's last samples are through: the stream and recording end
    void recomputeFront();
    void showSymbolRateLimit(const std::string& limited);          // matched filter and resampler step for the device and symbol rate
    void showDecimation();   // the automatic choice named in the decimation box
    void updateBandLabels(int kHz);
    void showStandardControls();
    void setOverlayOpacity(double opacity);
    void switchStandard(Standard standard);
    void refreshLabels(bool readingsDue);
    void setUpScan();
    void showTuning(const QString& limited);   // the controls as the receiver is tuned now
    void setSymbolRateAuto(bool on);
    void followAutoRate();

    WindowMessages messages;
    std::unique_ptr<Ui::MainWindow> ui;
    GeneralSettings general;
    std::unique_ptr<Receiver> receiver;
    ProcessingChain* receiverChain = nullptr;   // the receiver's, for its readings and observers
    OutputSinks outputs;
    std::unique_ptr<DeviceEnumerator> enumerator;
    std::vector<InputDevice*> devices;
    InputDevice* device = nullptr;
    std::vector<WorkerStatsWidget*> statsRows;
    QTimer statusTimer;
    QTimer drainTimer;   // after a disconnection, until the chain has worked through what it was given
    int ticksSinceReadings = kReadingTicks - 1;   // the first refresh shows them
    QFileDialog* recordDialog = nullptr;
    // A samples recording named as SigMF: its data file, and what its
    // description will say when it closes.
    std::string sigmfRecordingPath;
    SigmfRecordingNotes sigmfNotes;
    EqualizerWindow* equalizerWindow = nullptr;
    DebugWindow* debugWindow = nullptr;
    QActionGroup* overlayChoices = nullptr;
    int decimationExponent = kAutoDecimation;
    double overlayOpacity = 0.5;
    bool showFftAfterFilter = false;
    // While the constructor runs, warnings go to the log: a message box
    // would wait for a click before the window, its timers or its orderly
    // shutdown exist.
    bool constructing = true;
    QColor iqPlotDotColour{16, 64, 192};
    QColor syncColour;                 // of the sync_confidence label now
    // The warning under the gain control while the input clips: shown while
    // the count of full-scale samples rose within the last second.
    QLabel* clippingLabel = nullptr;
    QLabel* carrierLabel = nullptr;
    static constexpr int kSpectrumAutoIndex = 2;   // box_spectrum_inversion: "Auto"
    uint64_t clippedSeen = 0;
    std::chrono::steady_clock::time_point lastClipping{};
    std::vector<float> spectrumLine;   // the last averaged spectrum
    std::vector<double> spectrumLevels;   // the same in dBFS
    std::vector<float> waterfallValues;   // the same as the waterfall's 0 … 1
    std::vector<std::complex<float>> plotSymbols;   // demodulated since the last refresh
    std::unique_ptr<DebugFeed> debugFeed;
    ScanDock* carriersDock = nullptr;
    QAction* scanMenuAction = nullptr;
    std::unique_ptr<WindowScan> windowScan;
    QCheckBox* autoRateBox = nullptr;
    std::unique_ptr<AutoSymbolRate> autoRate;   // while the rate is being measured
};
