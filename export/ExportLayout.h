// Where the measures of a track go when it leaves the program: the cells of a printed page,
// the cells of the track picture, and the parts a picture too large for one image file is
// written in. Plain arithmetic, no drawing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvel {

// Largest width or height of one picture part: image formats and the platform's bitmaps keep
// sizes in signed 16-bit fields.
constexpr int MAX_PICTURE_PIXELS = 32767;
// Largest memory of one picture part (4 bytes a pixel); a part is cut smaller when needed.
constexpr int64_t MAX_PICTURE_PART_BYTES = int64_t(256) << 20;

struct Cell {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// A printed page: `Across` x `Down` cells of equal size, filled row by row. Cell sizes are
// the page size divided by the counts, truncated.
struct PageGrid {
    int Across = 1;
    int Down = 1;
    int CellWidth = 0;
    int CellHeight = 0;

    int PerPage() const { return Across * Down; }
    // The cell of slot `slot` (0 .. PerPage() - 1) of a page.
    Cell SlotCell(int slot) const;
};

// Counts below 1 are taken as 1.
PageGrid ComputePageGrid(int pageWidth, int pageHeight, int across, int down);
// Pages needed for `measures` drawn measures: no empty page, none for no measure.
int64_t PageCount(int64_t measures, const PageGrid& grid);

// Text unit of a printed measure: |font size in points| x vertical pixels per inch / 72,
// rounded to the nearest integer.
int PrintTextUnit(double fontPointSize, int dotsPerInchY);

// The track picture, from the main window's outer size W x H: two measures a row, each cell
// W x 0.75 by H / 2, the picture W x 1.5 wide (both truncated) and tall enough for
// (measures + 2) / 2 rows, that is one row for the summary's place plus the measures.
struct PictureLayout {
    int Width = 0;
    int CellWidth = 0;
    int CellHeight = 0;
    int64_t Rows = 0;

    int64_t Height() const { return Rows * CellHeight; }
    // The cell of the k-th drawn measure (k from 0), in whole-picture coordinates.
    int64_t CellTop(int64_t k) const { return (k / 2) * CellHeight; }
    int CellLeft(int64_t k) const { return k % 2 == 0 ? 0 : CellWidth; }
};

PictureLayout ComputePictureLayout(int windowWidth, int windowHeight, int64_t measures);

// One image of a picture written in parts: whole rows of measures [FirstRow, FirstRow + Rows)
// and whole columns [FirstColumn, FirstColumn + Columns) (two columns in all).
struct PicturePart {
    int64_t FirstRow = 0;
    int64_t Rows = 0;
    int FirstColumn = 0;
    int Columns = 2;
    // Pixel rectangle of the part inside the whole picture.
    int Left = 0;
    int64_t Top = 0;
    int Width = 0;
    int Height = 0;
};

// Cuts the picture into parts at most `maxPixels` wide and high and at most `maxBytes` large,
// cutting only between rows of measures (and, when the picture is too wide, between its two
// columns), top to bottom, left column first. One part when the picture fits. Empty when a
// single cell is larger than `maxPixels` (nothing can be cut inside a measure).
std::vector<PicturePart> SplitPicture(const PictureLayout& layout,
                                      int maxPixels = MAX_PICTURE_PIXELS,
                                      int64_t maxBytes = MAX_PICTURE_PART_BYTES);

// File name of part `index` (from 0): NAME.ext for the first, NAME-2.ext, NAME-3.ext ... after.
std::string PartFileName(const std::string& path, size_t index);

} // namespace morvel
