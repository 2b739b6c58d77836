#include "export/TrackRender.h"

#include "export/PageSetup.h"

#include "core/Metrics.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QPrinter>
#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <memory>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace morvel {

namespace {

constexpr int PNG_FAST_QUALITY = 80; // Qt maps PNG quality 80 to zlib level 1

// A white-to-be RGB32 image whose memory the kernel may back with huge pages: a picture is
// tens of megabytes, and faulting it in 4 KiB at a time costs more than drawing it.
QImage AllocatePicture(int width, int height) {
#ifdef __linux__
    constexpr size_t HUGE_PAGE = size_t(2) << 20;
    const size_t bytesPerLine = size_t(width) * 4;
    const size_t bytes = bytesPerLine * size_t(height);
    if (width > 0 && height > 0 && bytes >= HUGE_PAGE) {
        const size_t rounded = (bytes + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        if (void* memory = std::aligned_alloc(HUGE_PAGE, rounded)) {
            madvise(memory, rounded, MADV_HUGEPAGE);
            return QImage(
                static_cast<uchar*>(memory), width, height, static_cast<qsizetype>(bytesPerLine),
                QImage::Format_RGB32, [](void* data) { std::free(data); }, memory);
        }
        return {};
    }
#endif
    return QImage(width, height, QImage::Format_RGB32);
}

} // namespace

QByteArray ImageFormatOf(const QString& path) {
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    if (suffix.isEmpty() || !QImageWriter::supportedImageFormats().contains(suffix)) return {};
    return suffix;
}

MeasurePaintContext TrackContext(const Conversion& conversion, const DisplaySettings& display,
                                 int track, const MeasureIndex* index) {
    MeasurePaintContext context = BasePaintContext(conversion, display, track, index);
    if (const TrackRecord* record = TrackAt(&conversion.TrackList, track)) {
        // Found once here, for every measure the caller draws.
        if (conversion.Settings.OptimiseFingering)
            context.Fingering = std::make_shared<const TrackFingering>(OptimiseTrackFingering(
                *record, conversion.StringPitch, conversion.Settings, conversion.Header.Division));
        context.RangeHint = RangeHint(*record, conversion.StringPitch, conversion.Settings,
                                      conversion.TuningSettings.Transpose);
    }
    return context;
}

std::vector<int> DrawnMeasures(const MeasurePaintContext& context, int track) {
    std::vector<int> measures;
    std::optional<MeasureIndex> own;
    const MeasureIndex* index = IndexFor(context, track, own);
    if (!index) return measures;
    const int64_t count = TrackMeasureCount(*TrackAt(context.Tracks, track), context.Division);
    measures.reserve(index->Entries().size());
    for (const MeasureEntry& entry : index->Entries()) {
        if (static_cast<int64_t>(entry.Measure) > count || entry.Measure > INT32_MAX) break;
        measures.push_back(static_cast<int>(entry.Measure));
    }
    return measures;
}

int64_t PrintMeasures(QPrinter& printer, const MeasurePaintContext& context, int track,
                      const std::vector<int>& measures, int across, int down,
                      ChordFlags* chordsNamed) {
    std::optional<MeasureIndex> own;
    MeasurePaintContext drawing = context;
    drawing.Index = IndexFor(context, track, own);

    QPainter painter;
    if (!painter.begin(&printer)) return -1;
    const QFont font = PrintFont();
    painter.setFont(font);
    const PageGrid grid = ComputePageGrid(printer.width(), printer.height(), across, down);
    const int u = PrintTextUnit(font.pointSizeF(), printer.logicalDpiY());
    int64_t pages = 0;
    int slot = 0;
    for (int measure : measures) {
        if (slot == 0) {
            if (pages > 0) printer.newPage();
            ++pages;
        }
        const Cell cell = grid.SlotCell(slot);
        DrawMeasure(painter, drawing, cell.Left, cell.Top, cell.Width, cell.Height, track, measure,
                    u, false, chordsNamed);
        slot = slot + 1 == grid.PerPage() ? 0 : slot + 1;
    }
    painter.end();
    return pages;
}

QImage RenderPicturePart(const MeasurePaintContext& context, int track,
                         const std::vector<int>& measures, const PictureLayout& layout,
                         const PicturePart& part, ChordFlags* chordsNamed) {
    QImage image = AllocatePicture(part.Width, part.Height);
    if (image.isNull()) return image;
    image.fill(Qt::white);
    std::optional<MeasureIndex> own;
    MeasurePaintContext drawing = context;
    drawing.Index = IndexFor(context, track, own);

    QPainter painter(&image);
    painter.setFont(PictureFont());
    const int64_t first = part.FirstRow * 2;
    const int64_t end =
        std::min<int64_t>((part.FirstRow + part.Rows) * 2, static_cast<int64_t>(measures.size()));
    for (int64_t k = first; k < end; ++k) {
        const int column = static_cast<int>(k % 2);
        if (column < part.FirstColumn || column >= part.FirstColumn + part.Columns) continue;
        const int left = layout.CellLeft(k) - part.Left;
        const int top = static_cast<int>((k / 2 - part.FirstRow) * layout.CellHeight);
        DrawMeasure(painter, drawing, left, top, layout.CellWidth, layout.CellHeight, track,
                    measures[static_cast<size_t>(k)], PICTURE_TEXT_UNIT, false, chordsNamed);
    }
    return image;
}

bool WriteImage(const QImage& image, int fd, const QByteArray& format, QString& error) {
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, format);
    // PNG at zlib's fastest level: a track picture is mostly flat colour, so it packs nearly
    // as small as at the default level in a fraction of the time.
    if (writer.format() == "png") writer.setQuality(PNG_FAST_QUALITY);
    const bool written = writer.write(image);
    const bool flushed = file.flush();
    if (!written || !flushed || file.error() != QFileDevice::NoError) {
        // The device's reason ("No space left on device") says more than the writer's.
        error = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        return false;
    }
    return true;
}

bool PdfComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 5) return false;
    constexpr qint64 TAIL = 16;
    file.seek(std::max<qint64>(0, file.size() - TAIL));
    return file.read(TAIL).trimmed().endsWith("%%EOF");
}

} // namespace morvel
