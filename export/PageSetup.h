// The printed page set-up, in one place for the window's "Print Track" and morvel-export, so
// the same settings give the same pages from both: the resolution the page is drawn at, the
// margins around the printable area, the point size of the printer font (which sets the text
// unit of printed measures) and the pixel size of the picture font.
#pragma once

#include "widgets/Screen.h"

#include <QFont>
#include <QPageSize>

class QPrinter;

namespace morvel {

constexpr int PRINT_RESOLUTION = 300;    // printer device pixels per inch
constexpr double PRINT_MARGIN_MM = 10;   // on each side of the page
constexpr double PRINT_FONT_POINTS = 12; // text unit 50 at PRINT_RESOLUTION
// Title of every print job.
constexpr const char* PRINT_JOB_TITLE = "MORVEL Output";
// Pictures are drawn as the screen draws panels: text unit 10 in the main window's font.
constexpr int PICTURE_TEXT_UNIT = 10;
constexpr int PICTURE_FONT_PIXELS = 14;
// The main window's size when it opens, which pictures made without the window assume.
constexpr int DEFAULT_WINDOW_WIDTH = MAIN_WINDOW_WIDTH;
constexpr int DEFAULT_WINDOW_HEIGHT = MAIN_WINDOW_HEIGHT;
// Page size of a printer that nobody has set up.
constexpr QPageSize::PageSizeId DEFAULT_PAGE_SIZE = QPageSize::A4;

// Sets the resolution, the margins and the job title of `printer`; `pageSize` too unless it
// is QPageSize::Custom (keep the size and orientation the printer has, as a print dialog
// chose them); a given size is used upright.
void ApplyPageSetup(QPrinter& printer, QPageSize::PageSizeId pageSize = QPageSize::Custom);

// The font of printed measures (PRINT_FONT_POINTS) and of pictures (PICTURE_FONT_PIXELS).
QFont PrintFont();
QFont PictureFont();

} // namespace morvel
