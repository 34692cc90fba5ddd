#include "ui/InputStreamMenu.h"

#include <QActionGroup>

InputStreamMenu::InputStreamMenu(Source source, QWidget* parent)
    : QMenu("Streams", parent), source(std::move(source))
{
    setObjectName("menu_streams");
    connect(this, &QMenu::aboutToShow, this, &InputStreamMenu::refresh);
    refresh();
}

void InputStreamMenu::refresh()
{
    clear();
    delete choices;
    choices = new QActionGroup(this);
    const std::vector<BbFrameProcessor::InputStream> streams =
        source.streams ? source.streams() : std::vector<BbFrameProcessor::InputStream>();
    if (streams.empty()) {
        addAction("A single stream")->setEnabled(false);
        return;
    }
    const int passed = source.passed ? source.passed() : -1;
    for (const BbFrameProcessor::InputStream& s : streams) {
        QAction* a = addAction(QString("ISI %1: %2 packets").arg(s.isi).arg(qulonglong(s.packets)));
        a->setCheckable(true);
        a->setChecked(s.isi == passed);
        choices->addAction(a);
        const int isi = s.isi;
        connect(a, &QAction::triggered, this, [this, isi] {
            if (source.choose)
                source.choose(isi);
        });
    }
}
