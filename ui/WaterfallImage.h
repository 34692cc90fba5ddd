// The waterfall's lines: an image used as a ring buffer, one spectrum line per
// row, written upward so that the newest line is drawn on top.
#pragma once

#include <QImage>

#include <vector>

class WaterfallImage {
public:
    WaterfallImage(int width, int height);

    // A line of `values` (nominally 0 … 1) in the waterfall's colours. A line
    // of another length than the image is wide rescales the image to that
    // width instead (its height and the lines so far kept) and draws nothing:
    // false then.
    bool addLine(const std::vector<float>& values);

    const QImage& image() const { return lines; }
    // The row the next line goes to.
    int nextRow() const { return current; }
    // The row of the newest line.
    int newestRow() const { return current + 1 < lines.height() ? current + 1 : 0; }

private:
    QImage lines;
    int current;   // decreases by one per line, wrapping to the last row
};
