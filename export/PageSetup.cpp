#include "export/PageSetup.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPrinter>

namespace morvel {

void ApplyPageSetup(QPrinter& printer, QPageSize::PageSizeId pageSize) {
    printer.setResolution(PRINT_RESOLUTION);
    if (pageSize != QPageSize::Custom) {
        printer.setPageSize(QPageSize(pageSize));
        printer.setPageOrientation(QPageLayout::Portrait);
    }
    printer.setPageMargins(
        QMarginsF(PRINT_MARGIN_MM, PRINT_MARGIN_MM, PRINT_MARGIN_MM, PRINT_MARGIN_MM),
        QPageLayout::Millimeter);
    printer.setDocName(PRINT_JOB_TITLE);
    printer.setCreator(PRINT_JOB_TITLE);
}

QFont PrintFont() {
    QFont font;
    font.setPointSizeF(PRINT_FONT_POINTS);
    return font;
}

QFont PictureFont() {
    QFont font;
    font.setPixelSize(PICTURE_FONT_PIXELS);
    return font;
}

} // namespace morvel
