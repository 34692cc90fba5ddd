// The "Release Notes" box: shown once at start-up and from Help.
#pragma once

#include <QString>

class QWidget;

// Name, version, compiler, build time, libraries, this version's changes
// and the years, ending with the current one.
QString releaseNotesText();

// Modal: returns when the user closes it.
void showReleaseNotes(QWidget* parent);
