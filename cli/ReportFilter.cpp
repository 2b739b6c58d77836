#include "cli/ReportFilter.h"

#include "core/Conversion.h"

#include <cstring>
#include <utility>

namespace morvel::cli {

ReportFilter::ReportFilter(OutputMode mode, int track, Writer writer)
    : mode_(mode), track_(track), writer_(std::move(writer)) {}

void ReportFilter::Feed(std::string_view chunk) {
    if (mode_ == OutputMode::Report) {
        if (!chunk.empty()) writer_(chunk);
        return;
    }
    // Walk the chunk span by span; a span ends at a separator or at the chunk's end.
    const char* pos = chunk.data();
    const char* end = pos + chunk.size();
    while (pos < end) {
        const void* hit = std::memchr(pos, TRACK_SEPARATOR, static_cast<size_t>(end - pos));
        const char* spanEnd = hit ? static_cast<const char*>(hit) : end;
        bool keep = mode_ == OutputMode::AllText || separators_ == track_;
        if (keep && spanEnd > pos)
            writer_(std::string_view(pos, static_cast<size_t>(spanEnd - pos)));
        if (!hit) break;
        ++separators_;
        pos = spanEnd + 1;
    }
}

} // namespace morvel::cli
