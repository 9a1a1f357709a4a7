#pragma once
#include <cstddef>
#include <cstdint>

// Services the host offers a plug-in: file prompts, messages, progress, help and
// typed options. The host hands the table to the optional fifth entry point
//     POLYVANT_EXPORT int LibSetHostServices(const PvHostServices* services);
// before any other call into the library except LibVersion. The table stays valid
// until the library is unloaded. A plug-in must work without it (ImportFile reports
// on stderr; interactive operations say that the host offers no services).
//
// Versioning: fields are only ever appended. A plug-in reads a field only when
// `size` covers it and `version` is at least the version that introduced it.

extern "C" {

enum PvSeverity : std::int32_t {
    PV_INFO = 0,
    PV_WARNING = 1,
    PV_ERROR = 2,
};

// Bits of PvHostServices::flags (version 2).
enum PvHostFlags : std::uint32_t {
    // The host flushes every file an exporter writes to the disk itself before it
    // puts the file in place (a batch converter flushes many files at once), so an
    // exporter may leave out its own fsync. A host that does not set it relies on the
    // exporter for that.
    PV_HOST_FLUSHES_EXPORTS = 1u << 0,
};

enum PvOptionType : std::int32_t {
    PV_OPTION_BOOL = 0,    // intValue 0 or 1
    PV_OPTION_INT = 1,     // intValue within [minValue, maxValue]
    PV_OPTION_DOUBLE = 2,  // doubleValue within [minValue, maxValue]
    PV_OPTION_CHOICE = 3,  // intValue indexes the '|'-separated `choices`
    PV_OPTION_STRING = 4,  // stringValue, malloc'd; the editor replaces it with free/malloc
};

// One typed option. `name` is the stable key (for command lines and stored
// settings), `label` what a dialog shows.
struct PvOption {
    const char* name;
    const char* label;
    std::int32_t type;
    std::int32_t reserved;
    std::int64_t intValue;
    double doubleValue;
    double minValue;
    double maxValue;
    const char* choices;
    char* stringValue;
};

struct PvHostServices {
    std::uint32_t version;  // 2
    std::uint32_t size;     // sizeof(PvHostServices) as the host knows it
    void* context;          // passed back to every call

    // File prompts. `title` is shown; `classPatterns` is the class name, whose
    // patterns "(*.ext, ...)" make the filter. The result is a malloc'd absolute
    // path the plug-in frees with free(), or null when the user cancelled.
    char* (*askOpenFile)(void* context, const char* title, const char* classPatterns);
    char* (*askSaveFile)(void* context, const char* title, const char* classPatterns,
                         const char* defaultExtension);

    // A message to the user; errors and warnings name the file and where it went wrong.
    void (*report)(void* context, std::int32_t severity, const char* message);

    // Progress of long work, fraction 0 ... 1 with a status text (may be null).
    // Returns 0 when the user asked to cancel, 1 to go on.
    std::int32_t (*progress)(void* context, double fraction, const char* text);

    // Shows a help text (plain text or simple HTML) under a title.
    void (*showHelp)(void* context, const char* title, const char* text);

    // Lets the user edit `count` options in place. Returns 1 when accepted, 0 when
    // cancelled (the options are then unchanged).
    std::int32_t (*editOptions)(void* context, const char* title, PvOption* options,
                                std::uint32_t count);

    // Version 2: PvHostFlags; bits a plug-in does not know are to be ignored.
    std::uint32_t flags;
    std::uint32_t reserved; // 0
};

typedef std::int32_t (*PvLibSetHostServicesFn)(const PvHostServices* services);

} // extern "C"

namespace polyvant {
constexpr std::uint32_t kHostServicesVersion = 2;
} // namespace polyvant
