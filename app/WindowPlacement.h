// Where the main window opens and how its docks stand: remembered between runs
// in "window.ini" in the working folder (beside config.ini, which is only
// read), and on a first run a size that fits the screen.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QMainWindow;

// The file the window's placement is kept in.
inline const char* windowPlacementFile() { return "window.ini"; }

// `wanted` shrunk to fit at most `share` of `available` in each direction
// (never below `minimum`), centred in it.
QRect fittingGeometry(QSize wanted, QSize minimum, const QRect& available, double share = 0.9);

// Restores the geometry and dock state saved in `path`; without a usable one,
// sizes the window to fit the screen it is on. True when a saved placement
// was restored. A file there that is no regular file of at most 1 MiB is
// neither read nor written.
bool placeWindow(QMainWindow& window, const QString& path = windowPlacementFile());
// Saves the window's geometry and dock state to `path`; false (nothing else
// happens) when the file cannot be written.
bool saveWindowPlacement(const QMainWindow& window, const QString& path = windowPlacementFile());
