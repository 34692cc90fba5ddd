#include "ui/DebugWindow.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

DebugWindow::DebugWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle("Debug Window");
    auto* columns = new QHBoxLayout(this);
    vl_left = new QVBoxLayout;
    vl_right = new QVBoxLayout;
    vl_left->setObjectName("vl_left");
    vl_right->setObjectName("vl_right");
    columns->addLayout(vl_left);
    columns->addLayout(vl_right);
    dumpStatus = new QLabel("No XFECFRAME dump requested.", this);
    dumpStatus->setWordWrap(true);
    vl_left->addWidget(dumpStatus);
    vl_left->addStretch();
    vl_right->addStretch();
    resize(420, 200);
}

void DebugWindow::frameDumpRequested(const QString& folder)
{
    dumpStatus->setText(QString("The next XFECFRAME is written to %1/xfecframe.<n>.")
                            .arg(QDir::toNativeSeparators(QDir(folder).absolutePath())));
}
