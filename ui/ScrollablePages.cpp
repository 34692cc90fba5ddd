#include "ui/ScrollablePages.h"

#include <QScrollArea>
#include <QTabWidget>

void makePagesScrollable(QTabWidget* tabs)
{
    const int current = tabs->currentIndex();
    for (int i = 0; i < tabs->count(); ++i) {
        QWidget* page = tabs->widget(i);
        if (qobject_cast<QScrollArea*>(page) != nullptr)
            continue;
        const QString title = tabs->tabText(i);
        const QString tip = tabs->tabToolTip(i);
        tabs->removeTab(i);
        auto* area = new QScrollArea;
        area->setObjectName(page->objectName() + "_scroll");
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        area->setWidget(page);
        tabs->insertTab(i, area, title);
        tabs->setTabToolTip(i, tip);
    }
    tabs->setCurrentIndex(current);
}

int tabIndexOf(const QTabWidget* tabs, const QWidget* page)
{
    for (int i = 0; i < tabs->count(); ++i) {
        const QWidget* tab = tabs->widget(i);
        if (tab == page || tab->isAncestorOf(page))
            return i;
    }
    return -1;
}
