#pragma once

namespace tarnis {

/// Opens the null device as each of standard input, output and error that is closed, as a program
/// started with ">&-" finds them. Otherwise the next files it opens get those numbers, and whatever it
/// writes to standard output or standard error lands in them: in an image being written. Called
/// first thing in main(). Windows numbers no files so, and needs nothing.
void openClosedStandardStreams();

} // namespace tarnis
