#include "app/WindowPlacement.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>

#include <algorithm>

namespace {

constexpr int kVersion = 1;   // of the dock state
constexpr qint64 kLargestFile = 1 << 20;

// A file that is there and no small regular file (a named pipe would hold
// the start-up until a writer came) is neither read nor written.
bool usable(const QString& path)
{
    const QFileInfo info(path);
    return !info.exists() || (info.isFile() && info.size() <= kLargestFile);
}

} // namespace

QRect fittingGeometry(QSize wanted, QSize minimum, const QRect& available, double share)
{
    const int width = std::max(minimum.width(), std::min(wanted.width(), int(available.width() * share)));
    const int height = std::max(minimum.height(), std::min(wanted.height(), int(available.height() * share)));
    QRect r(0, 0, width, height);
    r.moveCenter(available.center());
    // Larger than the screen (its minimum): the top left corner stays on it.
    r.moveLeft(std::max(r.left(), available.left()));
    r.moveTop(std::max(r.top(), available.top()));
    return r;
}

bool placeWindow(QMainWindow& window, const QString& path)
{
    QByteArray geometry, state;
    if (usable(path)) {
        const QSettings saved(path, QSettings::IniFormat);
        geometry = saved.value("window/geometry").toByteArray();
        state = saved.value("window/state").toByteArray();
    }
    if (!geometry.isEmpty() && window.restoreGeometry(geometry)) {
        if (!state.isEmpty())
            window.restoreState(state, kVersion);
        return true;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return false;
    const QRect available = screen->availableGeometry();
    window.setGeometry(fittingGeometry(window.size(), window.minimumSizeHint(), available));
    return false;
}

bool saveWindowPlacement(const QMainWindow& window, const QString& path)
{
    if (!usable(path))
        return false;
    QSettings saved(path, QSettings::IniFormat);
    if (!saved.isWritable())
        return false;
    saved.setValue("window/geometry", window.saveGeometry());
    saved.setValue("window/state", window.saveState(kVersion));
    saved.sync();
    return saved.status() == QSettings::NoError;
}
