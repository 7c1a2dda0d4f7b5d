// The records shared by every stage of a conversion, and the one process-wide
// ConversionState that carries paths, geometry, counters and the pending message.
#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// Messages for a fault found in a file's bytes name the place by an internal
// number, as they always have; a second line says what was found.
inline constexpr const char* kInternalErrorFormat = "Internal error: (%d)";

// Version text shared by the banner and the AVI tag chunk.
inline constexpr const char* kVersionText = "1.0-3";

// One colour: red, green, blue, in that order.
struct PaletteEntry {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const PaletteEntry&) const = default;
};

inline constexpr int kPaletteEntries = 256;
using Palette = std::array<PaletteEntry, kPaletteEntries>;
static_assert(sizeof(Palette) == 3 * kPaletteEntries, "entries are packed");

// Compares two palettes as whole blocks of bytes.
inline bool samePalette(const Palette& one, const Palette& other) {
    return std::memcmp(one.data(), other.data(), sizeof(Palette)) == 0;
}

// One record of the scratch index file, 12 bytes on disk, one per movie chunk.
struct ChunkRecord {
    int32_t isPalette = 0;         // 1 for a "00pc" chunk, 0 for a "00dc" chunk
    uint32_t sizeFieldOffset = 0;  // output position of the chunk's size field
    uint32_t dataSize = 0;         // chunk data bytes, without the 8-byte chunk header
};
inline constexpr int kChunkRecordSize = 12;

// Positions of the AVI header's open size fields and the sizes measured while
// writing it. Held in 64 bits so that no position or size ever wraps.
struct AviLayout {
    int64_t riffSizePos = 0;
    int64_t hdrlSizePos = 0;
    int64_t avihSizePos = 0;
    int64_t strlSizePos = 0;
    int64_t strhSizePos = 0;
    int64_t strfSizePos = 0;
    int64_t moviSizePos = 0;
    int64_t moviCodePos = 0;  // index offsets and the movie list size count from here
    int64_t avihSize = 0;
    int64_t strhSize = 0;
    int64_t hdrlSize = 0;
    int64_t strlSize = 0;
    int64_t riffSize = 0;
    int64_t moviSize = 0;
};

struct ConversionState {
    std::string inputPath;
    std::string outputPath;
    std::string scratchPath;

    int32_t width = 0;  // of the first frame
    int32_t height = 0;
    double framesPerSecond = 0.0;
    int32_t frameCount = 0;
    int32_t paletteChangeCount = 0;
    double totalEncodedBytes = 0.0;    // frame chunk data without end-of-bitmap pairs
    int64_t largestChunk = 0;          // over frame and palette-change chunks
    bool sharedPalette = false;        // one colour table for every frame was asked for
    int32_t sharedPaletteColours = 0;  // colours in it, 0 when the frames kept their own

    std::string errorText;    // the pending failure message; printed only on failure
    std::string warningText;  // a finished conversion's warning, printed after success

    Palette referencePalette{};  // the first frame's colour table
    Palette framePalette{};      // the colour table of the frame at hand
    AviLayout layout;
};

// The one process-wide record; zero at start.
extern ConversionState gState;

// Back to the zero state (tests run several conversions in one process).
void resetConversionState();

#if defined(__GNUC__)
#define KESTRUP_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define KESTRUP_PRINTF_FORMAT
#endif

// A printf-style formatted text.
std::string formatText(const char* format, ...) KESTRUP_PRINTF_FORMAT;
std::string formatArguments(const char* format, va_list args);

// Replaces the pending message with a printf-style formatted text.
void setErrorText(const char* format, ...) KESTRUP_PRINTF_FORMAT;

struct SystemError;  // platform/system_errors.h

// Adds the system's reason for the failure on a line of its own under the
// pending message; nothing when the system gave none.
void addErrorReason(const SystemError& error);

// The messages of a stream that failed, each set with the system's reason
// under it; each returns 0, the failed result.
int inputReadError(const SystemError& error);                               // the input
int outputWriteError(const SystemError& error);                             // the output
int tempFileWriteError(const std::string& path, const SystemError& error);  // a file of the run's

// Replaces the pending warning with a printf-style formatted text.
void setWarningText(const char* format, ...) KESTRUP_PRINTF_FORMAT;

// Adds a printf-style formatted text to the pending warning, a blank line
// after what it held.
void addWarningText(const char* format, ...) KESTRUP_PRINTF_FORMAT;
