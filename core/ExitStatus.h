// The exit statuses every program of the project ends with.
#pragma once

namespace morvel {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1; // a conversion or an output failed, after saying why
constexpr int EXIT_USAGE = 2;  // the command line or a settings file named on it is wrong

} // namespace morvel
