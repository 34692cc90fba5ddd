// The window's "Streams" menu: the input streams (ISIs) of a signal that
// carries several, each with the packets seen of it, the one passed on
// checked. Choosing one passes it on instead. Rebuilt each time it opens.
#pragma once

#include "stream/BbFrameProcessor.h"

#include <QMenu>

#include <functional>
#include <vector>

class QActionGroup;

class InputStreamMenu : public QMenu {
public:
    struct Source {
        std::function<std::vector<BbFrameProcessor::InputStream>()> streams;   // those seen
        std::function<int()> passed;                                          // the ISI passed, −1 none
        std::function<void(int isi)> choose;
    };

    InputStreamMenu(Source source, QWidget* parent = nullptr);

    // The entries as the streams stand now.
    void refresh();

private:
    Source source;
    QActionGroup* choices = nullptr;
};
