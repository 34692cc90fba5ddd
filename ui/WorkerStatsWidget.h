// One row of the worker-statistics panel: a worker's name and its load.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

class WorkerStatsWidget : public QWidget {
public:
    explicit WorkerStatsWidget(const QString& name, QWidget* parent = nullptr);

    // The worker's load sum (percent over its last 32 items): shown as
    // load / 32, limited to 0 … 100.
    void setLoad(int loadSum);
    int shownLoad() const;
    // A short reading shown after the bar (the demodulator's MER, say);
    // empty hides it.
    void setDetail(const QString& text);
    QString shownDetail() const;

private:
    QLabel* worker_name;
    QProgressBar* worker_stat;
    QLabel* worker_detail;
};
