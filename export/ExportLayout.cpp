#include "export/ExportLayout.h"

#include <algorithm>
#include <cmath>

namespace morvel {

Cell PageGrid::SlotCell(int slot) const {
    return {(slot % Across) * CellWidth, (slot / Across) * CellHeight, CellWidth, CellHeight};
}

PageGrid ComputePageGrid(int pageWidth, int pageHeight, int across, int down) {
    PageGrid grid;
    grid.Across = std::max(across, 1);
    grid.Down = std::max(down, 1);
    grid.CellWidth = std::max(pageWidth, 0) / grid.Across;
    grid.CellHeight = std::max(pageHeight, 0) / grid.Down;
    return grid;
}

int64_t PageCount(int64_t measures, const PageGrid& grid) {
    if (measures <= 0) return 0;
    return (measures + grid.PerPage() - 1) / grid.PerPage();
}

int PrintTextUnit(double fontPointSize, int dotsPerInchY) {
    return static_cast<int>(std::lround(std::fabs(fontPointSize) * dotsPerInchY / 72.0));
}

PictureLayout ComputePictureLayout(int windowWidth, int windowHeight, int64_t measures) {
    PictureLayout layout;
    layout.Width = static_cast<int>(windowWidth * 1.5);
    layout.CellWidth = static_cast<int>(windowWidth * 0.75);
    layout.CellHeight = windowHeight / 2;
    layout.Rows = (std::max<int64_t>(measures, 0) + 2) / 2;
    return layout;
}

std::vector<PicturePart> SplitPicture(const PictureLayout& layout, int maxPixels,
                                      int64_t maxBytes) {
    std::vector<PicturePart> parts;
    if (layout.CellHeight > maxPixels || layout.CellWidth > maxPixels || layout.CellHeight <= 0 ||
        layout.Width <= 0)
        return parts;
    // Column ranges: the whole width when it fits, else each column on its own.
    struct Columns {
        int First, Count, Left, Width;
    };
    std::vector<Columns> columns;
    if (layout.Width <= maxPixels) {
        columns.push_back({0, 2, 0, layout.Width});
    } else {
        columns.push_back({0, 1, 0, layout.CellWidth});
        columns.push_back({1, 1, layout.CellWidth, layout.Width - layout.CellWidth});
        if (columns.back().Width > maxPixels) return {};
    }
    for (int64_t row = 0; row < layout.Rows;) {
        int64_t rows = layout.Rows - row;
        for (const Columns& c : columns) {
            const int64_t rowBytes = int64_t(c.Width) * 4 * layout.CellHeight;
            const int64_t fit = std::max<int64_t>(
                1, std::min<int64_t>(maxPixels / layout.CellHeight, maxBytes / rowBytes));
            rows = std::min(rows, fit);
        }
        for (const Columns& c : columns) {
            PicturePart part;
            part.FirstRow = row;
            part.Rows = rows;
            part.FirstColumn = c.First;
            part.Columns = c.Count;
            part.Left = c.Left;
            part.Top = row * layout.CellHeight;
            part.Width = c.Width;
            part.Height = static_cast<int>(rows * layout.CellHeight);
            parts.push_back(part);
        }
        row += rows;
    }
    return parts;
}

std::string PartFileName(const std::string& path, size_t index) {
    if (index == 0) return path;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasSuffix =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasSuffix ? path.substr(0, dot) : path;
    const std::string suffix = hasSuffix ? path.substr(dot) : std::string();
    return stem + "-" + std::to_string(index + 1) + suffix;
}

} // namespace morvel
