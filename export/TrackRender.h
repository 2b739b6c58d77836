// Drawing a whole track onto printed pages and into pictures with the measure painter. Shared
// by the window's export commands and by morvel-export, so both give the same output.
#pragma once

#include "export/ExportLayout.h"
#include "painter/MeasurePainter.h"

#include <QImage>

#include <vector>

class QPrinter;

namespace morvel {

// The inputs of the painter for `track` of a conversion when no view shows it: the song,
// settings and tuning of `conversion`, the colours of `display`, `index` (may be null).
MeasurePaintContext TrackContext(const Conversion& conversion, const DisplaySettings& display,
                                 int track, const MeasureIndex* index);

// The measures of `track` in which a note starts, in order, up to the track's measure count:
// the measures that print and pictures draw, each in the next cell. Empty for an invalid track.
std::vector<int> DrawnMeasures(const MeasurePaintContext& context, int track);

// Prints `measures` of `track` on pages of `printer`, set up beforehand (ApplyPageSetup):
// `across` x `down` cells a page of the printable area, filled row by row, a new page only
// for a measure that no longer fits, text unit from PrintFont and the printer's vertical
// resolution. Returns the number of pages, or -1 when the printer could not start.
int64_t PrintMeasures(QPrinter& printer, const MeasurePaintContext& context, int track,
                      const std::vector<int>& measures, int across, int down,
                      ChordFlags* chordsNamed = nullptr);

// Draws `part` of the picture of `measures` of `track` laid out by `layout` (whole-picture
// cells, text unit PICTURE_TEXT_UNIT in PictureFont) onto a white image of the part's size.
// A null image when the image cannot be allocated.
QImage RenderPicturePart(const MeasurePaintContext& context, int track,
                         const std::vector<int>& measures, const PictureLayout& layout,
                         const PicturePart& part, ChordFlags* chordsNamed = nullptr);

// The image format Qt writes for the suffix of `path` ("png", "bmp", "jpg" ...), or empty.
QByteArray ImageFormatOf(const QString& path);

// Writes `image` in `format` ("BMP", "PNG" ...) into the open write descriptor `fd` (an
// OutputSet's, at its start; it stays open). False with `error` set, the system's reason where
// there is one, when it could not be written.
bool WriteImage(const QImage& image, int fd, const QByteArray& format, QString& error);

// True when the PDF file at `path` was written to its end: a PDF ends with "%%EOF", which a
// write cut short by a full disk or a file-size limit never reaches.
bool PdfComplete(const QString& path);

} // namespace morvel
