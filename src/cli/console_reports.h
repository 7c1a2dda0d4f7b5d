// What the program prints on the console: banner, usage, statistics, reports.
#pragma once

#include <cstdio>

// "kestrup Version ..." with the build date and a notice line, on console
// (standard output, or standard error when that is the output).
void printBanner(std::FILE* console = stdout);

// The usage text, printed by printUsage on standard output.
extern const char* const kUsageText;
void printUsage();

// The statistics block of a finished conversion, from gState, on console.
void reportStatistics(std::FILE* console = stdout);

// The pending gState.errorText as an error report on standard error; nothing
// when the text is empty. With inputName (a file of a batch), the report
// begins with the name, and is made also when the text is empty.
void printErrorReport(const char* inputName = nullptr);

// The closing line of a batch: how many files converted and how many failed;
// on standard output, or with quiet on standard error and only after a failure.
void reportBatchCount(int converted, int failed, bool quiet);

// The pending gState.warningText as a warning on standard error, if any.
void printWarningReport();

// Average compression in percent, truncated toward zero: 0 when the frame
// count or the (32-bit) pixel count per frame is not positive.
int averageCompression(double totalEncodedBytes, int frameCount, int width, int height);
