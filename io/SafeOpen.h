// Opening input files without ever waiting on them. A FIFO, a device or a socket named as a
// MIDI, INI or option file would make a plain open or read block for as long as nothing
// writes to it; these functions refuse anything that is not a regular file instead.
#pragma once

#include <cstdio>
#include <string>

namespace morvel {

// Opens `path` read-only without blocking and checks that it is a regular file. Returns the
// descriptor (blocking mode, close-on-exec), or -1 with errno set and `why` holding a short
// lower-case reason: "is a directory", "is not a regular file", or the system's text for
// errno ("No such file or directory"). `refused` (when given) tells whether the file exists
// but was refused for its kind, as opposed to an ordinary open failure.
int OpenRegularFile(const std::string& path, std::string& why, bool* refused = nullptr);

// The same as a binary-read stream, for callers of fopen(path, "rb").
std::FILE* OpenRegularFileStream(const std::string& path, std::string& why,
                                 bool* refused = nullptr);

} // namespace morvel
