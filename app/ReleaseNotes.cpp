#include "app/ReleaseNotes.h"

#include "core/Version.h"

#include <QDate>
#include <QMessageBox>
#include <QtGlobal>

#include <fftw3.h>

namespace {

QString compilerText()
{
#if defined(__clang__)
    return QString("clang %1.%2.%3").arg(__clang_major__).arg(__clang_minor__).arg(__clang_patchlevel__);
#elif defined(__GNUC__)
    return QString("GCC %1.%2.%3").arg(__GNUC__).arg(__GNUC_MINOR__).arg(__GNUC_PATCHLEVEL__);
#else
    return "an unknown compiler";
#endif
}

} // namespace

QString releaseNotesText()
{
    const int year = QDate::currentDate().year();
    return QString("<b>Tavirel %1</b><br>"
                   "A software receiver for DVB-S and DVB-S2.<br><br>"
                   "Built with %2 on %3 %4.<br>"
                   "Libraries: Qt %5, FFTW %6.<br><br>"
                   "<b>Changes in this version</b><ul>"
                   "<li>The desktop receiver: this window, its controls and config.ini.</li>"
                   "<li>Packets stay aligned after a lost frame; packets of frames that failed decoding are marked.</li>"
                   "<li>Low symbol rates from fast devices decode (the matched filter no longer overflows).</li>"
                   "<li>Faster acquisition of the first frames at any carrier phase.</li>"
                   "<li>TCP input held back by flow control; service names decoded by their character table.</li>"
                   "</ul>"
                   "&copy; 2025&ndash;%7 the Tavirel developers")
        .arg(kAppVersion)
        .arg(compilerText())
        .arg(__DATE__)
        .arg(__TIME__)
        .arg(qVersion())
        .arg(fftwf_version)
        .arg(year);
}

void showReleaseNotes(QWidget* parent)
{
    QMessageBox box(QMessageBox::Information, "Release Notes", releaseNotesText(), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::RichText);
    box.exec();
}
