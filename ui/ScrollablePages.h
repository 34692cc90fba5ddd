// Tab pages that scroll where the window is too low for their controls: on a
// laptop screen a page of a dozen rows would otherwise squeeze its sliders
// into lines, or hold the whole window taller than the screen.
#pragma once

class QTabWidget;
class QWidget;

// Puts each page of `tabs` into a frameless scroll area in its place (same
// title, tool tip and order; the page keeps its name, children and layout).
// The tab widget's pages are then the scroll areas.
void makePagesScrollable(QTabWidget* tabs);

// The index of the tab that holds `page` (itself or within its scroll
// area); −1 when none does.
int tabIndexOf(const QTabWidget* tabs, const QWidget* page);
