#include "ui/WorkerStatsWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

WorkerStatsWidget::WorkerStatsWidget(const QString& name, QWidget* parent)
    : QWidget(parent)
{
    setObjectName("Form");
    worker_name = new QLabel(name, this);
    worker_name->setObjectName("worker_name");
    // Every row's bar starts at the same place: room for the longest name.
    worker_name->setFixedWidth(worker_name->fontMetrics().horizontalAdvance("ResampleWorkerMM"));
    worker_stat = new QProgressBar(this);
    worker_stat->setObjectName("worker_stat");
    worker_stat->setRange(0, 100);
    worker_stat->setValue(0);
    worker_stat->setMaximumHeight(14);
    // Opaque: a new value repaints the bar alone, not the panel behind it.
    worker_stat->setAutoFillBackground(true);
    worker_detail = new QLabel(this);
    worker_detail->setObjectName("worker_detail");
    worker_detail->setFixedWidth(worker_detail->fontMetrics().horizontalAdvance("MER -99.9 dBM"));
    worker_detail->setAutoFillBackground(true);
    worker_detail->hide();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(worker_name);
    layout->addWidget(worker_stat);
    layout->addWidget(worker_detail);
}

void WorkerStatsWidget::setLoad(int loadSum)
{
    worker_stat->setValue(std::clamp(loadSum / 32, 0, 100));
}

int WorkerStatsWidget::shownLoad() const
{
    return worker_stat->value();
}

void WorkerStatsWidget::setDetail(const QString& text)
{
    if (text == worker_detail->text())
        return;
    worker_detail->setText(text);
    worker_detail->setVisible(!text.isEmpty());
}

QString WorkerStatsWidget::shownDetail() const
{
    return worker_detail->text();
}
