#pragma once
#include <polyvant/HostServices.h>

namespace polyvant {

// What a host does for the services it hands to plug-ins. The headless host and the
// GUI each implement it; MakeHostServices turns one into the C table of function
// pointers. The trampolines catch every exception (nothing crosses the plug-in
// boundary) and pass null texts on as "".
class HostServicesBackend {
public:
    virtual ~HostServicesBackend() = default;

    // A malloc'd absolute path, or null when the user cancelled.
    virtual char* AskOpenFile(const char* title, const char* classPatterns) = 0;
    virtual char* AskSaveFile(const char* title, const char* classPatterns,
                              const char* defaultExtension) = 0;
    virtual void Report(PvSeverity severity, const char* message) = 0;
    // False when the user asked to cancel.
    virtual bool Progress(double fraction, const char* text) = 0;
    virtual void ShowHelp(const char* title, const char* text) = 0;
    // Edits the options in place; false (options unchanged) when cancelled.
    virtual bool EditOptions(const char* title, PvOption* options, std::uint32_t count) = 0;
};

// A table of version kHostServicesVersion whose context is backend. The backend must
// outlive every library that was handed the table.
PvHostServices MakeHostServices(HostServicesBackend& backend) noexcept;

} // namespace polyvant
