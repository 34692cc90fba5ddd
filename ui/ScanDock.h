// The carriers a band scan found, as a dock beside the displays: one row
// each (frequency, symbol rate, level, what it carries, MER, services),
// tinted by what visiting it told — green where it decodes, red where
// nothing decoded, untinted while not yet visited. A click on a row asks
// for that carrier; the button above starts a scan or stops the one under way.
#pragma once

#include <QColor>
#include <QDockWidget>
#include <QString>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

struct ScanRow {
    enum class State { NotVisited, Visiting, Decodes, Silent };
    QString frequency;   // MHz
    QString symbolRate;  // ksym/s
    QString esn0;        // dB
    QString signal;      // "DVB-S2 8PSK 3/5", "DVB-S 3/4"
    QString mer;         // dB
    QString services;
    QString toolTip;
    State state = State::NotVisited;
};

class ScanDock : public QDockWidget {
    Q_OBJECT

public:
    explicit ScanDock(QWidget* parent = nullptr);

    static constexpr int kColumns = 6;
    static QColor tint(ScanRow::State state);

    // Rewrites the rows (the selection stays on the same row number).
    void setRows(const std::vector<ScanRow>& rows);
    void setStatus(const QString& text);
    // The button reads "Stop" while a scan runs, "Scan" otherwise.
    void setScanning(bool scanning);
    void setScanEnabled(bool enabled);

    QTableWidget* table() const { return rowsTable; }
    QLabel* statusLabel() const { return status; }
    QPushButton* scanButton() const { return button; }

Q_SIGNALS:
    void scanRequested();
    void stopRequested();
    void carrierChosen(int row);

private:
    QTableWidget* rowsTable = nullptr;
    QLabel* status = nullptr;
    QPushButton* button = nullptr;
    bool scanning = false;
};
