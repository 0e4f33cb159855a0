#pragma once
// Fuzz harnesses: each takes arbitrary bytes, drives one input path of the
// program with them, and aborts on a broken invariant. libFuzzer runs them
// under the sanitizers; the test suite replays the seed corpus and every
// past finding through the same functions.

#include <cstddef>
#include <cstdint>

// Reply bytes split at arbitrary tick boundaries, with mode buttons pressed
// and the clock moved between ticks, in every WorkMode and with any fuel row.
int fuzzPollTick(const uint8_t* data, size_t size);
// A data file opened into the table and the chart.
int fuzzDataFile(const uint8_t* data, size_t size);
// Arbitrary settings files of arbitrary lengths loaded, reset and saved.
int fuzzSettings(const uint8_t* data, size_t size);

// Creates the core application the harnesses need, if none exists.
void ensureFuzzApplication();
