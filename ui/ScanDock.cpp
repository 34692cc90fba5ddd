#include "ui/ScanDock.h"

#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

ScanDock::ScanDock(QWidget* parent)
    : QDockWidget("Carriers", parent)
{
    setObjectName("dock_scan");
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(4, 4, 4, 4);
    auto* top = new QHBoxLayout;
    button = new QPushButton("Scan", body);
    button->setObjectName("btn_scan");
    button->setToolTip("Finds the carriers of the band the input delivers, measures their symbol rates and tries to "
                       "decode each one.");
    status = new QLabel("Not scanned yet", body);
    status->setObjectName("lbl_scan_status");
    status->setWordWrap(true);
    top->addWidget(button);
    top->addWidget(status, 1);
    column->addLayout(top);

    rowsTable = new QTableWidget(0, kColumns, body);
    rowsTable->setObjectName("tbl_carriers");
    rowsTable->setHorizontalHeaderLabels({"MHz", "ksym/s", "Es/N0", "Signal", "MER", "Services"});
    const char* headerTips[kColumns] = {
        "The carrier's centre frequency (its offset from the band's centre when the input has no frequency)",
        "The symbol rate in ksymbols/s (\"?\": from the carrier's width, no line at its rate was seen)",
        "The carrier's level over the noise floor in dB, from the spectrum",
        "The standard that decoded and its MODCOD (DVB-S2) or code rate (DVB-S)",
        "The modulation error ratio in dB while it decoded",
        "The services its SDT lists"};
    for (int c = 0; c < kColumns; ++c)
        rowsTable->horizontalHeaderItem(c)->setToolTip(headerTips[c]);
    rowsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rowsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    rowsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    rowsTable->verticalHeader()->setVisible(false);
    rowsTable->horizontalHeader()->setStretchLastSection(true);
    rowsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    rowsTable->setToolTip("Click a carrier to tune the receiver to it.");
    column->addWidget(rowsTable, 1);
    setWidget(body);

    connect(button, &QPushButton::clicked, this, [this] {
        if (scanning)
            emit stopRequested();
        else
            emit scanRequested();
    });
    connect(rowsTable, &QTableWidget::cellClicked, this, [this](int row, int) { emit carrierChosen(row); });
}

QColor ScanDock::tint(ScanRow::State state)
{
    switch (state) {
    case ScanRow::State::Decodes:
        return QColor(200, 240, 200);
    case ScanRow::State::Silent:
        return QColor(245, 205, 205);
    case ScanRow::State::Visiting:
        return QColor(250, 240, 190);
    case ScanRow::State::NotVisited:
        break;
    }
    return QColor();
}

void ScanDock::setRows(const std::vector<ScanRow>& rows)
{
    const int selected = rowsTable->currentRow();
    rowsTable->setUpdatesEnabled(false);
    rowsTable->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const ScanRow& row = rows[size_t(r)];
        const QString texts[kColumns] = {row.frequency, row.symbolRate, row.esn0, row.signal, row.mer, row.services};
        const QColor colour = tint(row.state);
        for (int c = 0; c < kColumns; ++c) {
            QTableWidgetItem* item = rowsTable->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                rowsTable->setItem(r, c, item);
            }
            if (item->text() != texts[c])
                item->setText(texts[c]);
            item->setToolTip(row.toolTip);
            item->setTextAlignment(c < 3 || c == 4 ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                   : int(Qt::AlignLeft | Qt::AlignVCenter));
            item->setBackground(colour.isValid() ? QBrush(colour) : QBrush());
            // The tints are light: dark text whatever the style's palette.
            item->setForeground(colour.isValid() ? QBrush(Qt::black) : QBrush());
        }
    }
    if (selected >= 0 && selected < rowsTable->rowCount())
        rowsTable->selectRow(selected);
    rowsTable->setUpdatesEnabled(true);
}

void ScanDock::setStatus(const QString& text)
{
    if (status->text() != text)
        status->setText(text);
}

void ScanDock::setScanning(bool on)
{
    scanning = on;
    button->setText(on ? "Stop" : "Scan");
}

void ScanDock::setScanEnabled(bool enabled)
{
    button->setEnabled(enabled);
}
