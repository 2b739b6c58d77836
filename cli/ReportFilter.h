// Streams a conversion report to an output while it is being written, keeping what the
// text export keeps: everything but the separator bytes, one track's section, or the raw
// report. Nothing is buffered here; each kept span goes straight to the writer.
#pragma once

#include "cli/Options.h"

#include <cstddef>
#include <functional>
#include <string_view>

namespace morvel::cli {

class ReportFilter {
  public:
    using Writer = std::function<void(std::string_view kept)>;

    // `track` is the 1-based section kept with OutputMode::Track, ignored otherwise.
    ReportFilter(OutputMode mode, int track, Writer writer);

    // Takes the next chunk of the report, in order.
    void Feed(std::string_view chunk);

    // Separator bytes seen so far: the number of track sections the report has begun.
    int SeparatorsSeen() const { return separators_; }

  private:
    OutputMode mode_;
    int track_;
    Writer writer_;
    int separators_ = 0;
};

} // namespace morvel::cli
