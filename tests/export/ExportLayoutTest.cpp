#include "export/ExportLayout.h"

#include <gtest/gtest.h>

namespace morvel {
namespace {

TEST(ExportLayout, PagesAndPictureCells) {
    // 3 x 5 cells of a 2244 x 3271 page: 748 x 654, filled row by row.
    const PageGrid grid = ComputePageGrid(2244, 3271, 3, 5);
    EXPECT_EQ(grid.CellWidth, 748);
    EXPECT_EQ(grid.CellHeight, 654);
    EXPECT_EQ(grid.SlotCell(4).Left, 748);
    EXPECT_EQ(grid.SlotCell(4).Top, 654);
    EXPECT_EQ(grid.SlotCell(14).Left, 1496);
    EXPECT_EQ(grid.SlotCell(14).Top, 4 * 654);
    EXPECT_EQ(PageCount(15, grid), 1);
    EXPECT_EQ(PageCount(16, grid), 2);
    EXPECT_EQ(PageCount(0, grid), 0);
    EXPECT_EQ(PrintTextUnit(12, 300), 50);
    EXPECT_EQ(PrintTextUnit(-10, 300), 42); // 41.67, rounded

    // Two measures a row, W x 1.5 wide; 3 measures take 2 rows, 4 take 3 (the last empty).
    const PictureLayout three = ComputePictureLayout(575, 358, 3);
    EXPECT_EQ(three.Width, 862);
    EXPECT_EQ(three.CellWidth, 431);
    EXPECT_EQ(three.CellHeight, 179);
    EXPECT_EQ(three.Rows, 2);
    EXPECT_EQ(ComputePictureLayout(575, 358, 4).Rows, 3);
    EXPECT_EQ(three.CellLeft(2), 0);
    EXPECT_EQ(three.CellTop(2), 179);
    EXPECT_EQ(three.CellLeft(3), 431);
}

TEST(ExportLayout, LargePicturesSplitBetweenRows) {
    // 21 rows of 179 pixels with a limit of 1000: five rows (895 pixels) a part.
    const PictureLayout layout = ComputePictureLayout(575, 358, 40);
    const std::vector<PicturePart> parts = SplitPicture(layout, 1000);
    ASSERT_EQ(parts.size(), 5u);
    int64_t rows = 0;
    for (const PicturePart& part : parts) {
        EXPECT_EQ(part.FirstRow, rows);
        EXPECT_EQ(part.Top, rows * 179);
        EXPECT_LE(part.Height, 1000);
        EXPECT_EQ(part.Height, part.Rows * 179);
        EXPECT_EQ(part.Width, 862);
        rows += part.Rows;
    }
    EXPECT_EQ(rows, 21);
    EXPECT_EQ(SplitPicture(layout).size(), 1u);
    // Too wide for one part: each column on its own; a measure larger than the limit: none.
    const std::vector<PicturePart> columns = SplitPicture(ComputePictureLayout(1000, 358, 3), 1000);
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[0].Width, 750);
    EXPECT_EQ(columns[1].Left, 750);
    EXPECT_EQ(columns[1].FirstColumn, 1);
    EXPECT_TRUE(SplitPicture(ComputePictureLayout(575, 3000, 3), 1000).empty());
    // The memory bound cuts parts smaller than the pixel limit.
    EXPECT_EQ(SplitPicture(layout, MAX_PICTURE_PIXELS, 862 * 4 * 179 * 3).size(), 7u);

    EXPECT_EQ(PartFileName("/tmp/a.b/track.bmp", 0), "/tmp/a.b/track.bmp");
    EXPECT_EQ(PartFileName("/tmp/a.b/track.bmp", 1), "/tmp/a.b/track-2.bmp");
    EXPECT_EQ(PartFileName("/tmp/a.b/track", 2), "/tmp/a.b/track-3");
}

} // namespace
} // namespace morvel
