// "Debug Window": development aids beside the receiver. Its left column
// tells where a requested XFECFRAME dump goes; the right column is free for
// plots.
#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

class DebugWindow : public QWidget {
    Q_OBJECT

public:
    explicit DebugWindow(QWidget* parent = nullptr);

    // A dump of the next XFECFRAME was requested; it is written under `folder`.
    void frameDumpRequested(const QString& folder);

    QVBoxLayout* vl_left;
    QVBoxLayout* vl_right;

Q_SIGNALS:
    // The constellation source chosen here (the main window's selector's indices).
    void iq_selection_changed(int index);

private:
    QLabel* dumpStatus;
};
