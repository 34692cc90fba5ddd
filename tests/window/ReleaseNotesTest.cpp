#include "app/ReleaseNotes.h"

#include <QDate>

#include <gtest/gtest.h>

#include <fftw3.h>

TEST(ReleaseNotes, NameVersionToolsLibrariesAndYearsUpToNow)
{
    const QString text = releaseNotesText();
    EXPECT_TRUE(text.contains("Tavirel 2.0.21"));
    EXPECT_TRUE(text.contains("Built with GCC ") || text.contains("Built with clang ")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("Qt ") + qVersion()));
    EXPECT_TRUE(text.contains(QString("FFTW ") + fftwf_version));
    EXPECT_TRUE(text.contains("Changes in this version"));
    EXPECT_TRUE(text.contains(QString("&ndash;%1").arg(QDate::currentDate().year())));
}
