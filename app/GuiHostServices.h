#pragma once
#include <QString>

#include <polyvant/HostServices.h>

#include "plugins/HostServicesTable.h"

namespace polyvant {

// The services the viewer hands to plug-ins. Errors and warnings become message
// boxes ("Error" / "Warning") with the plug-in's own text, information goes to the
// status bar, file prompts go through the replaceable file dialog. Progress, help and
// option editing are minimal here; a subclass may override any of them.
class GuiHostServices : public HostServicesBackend {
public:
    GuiHostServices();
    ~GuiHostServices() override;

    const PvHostServices* Table() const noexcept { return &m_table; }
    // Errors reported so far; callers compare it before and after a plug-in call.
    int ErrorCount() const noexcept { return m_errors; }

    char* AskOpenFile(const char* title, const char* classPatterns) override;
    char* AskSaveFile(const char* title, const char* classPatterns,
                      const char* defaultExtension) override;
    void Report(PvSeverity severity, const char* message) override;
    bool Progress(double fraction, const char* text) override;
    void ShowHelp(const char* title, const char* text) override;
    // Without an options editor the options keep their values (answers "cancelled").
    bool EditOptions(const char* title, PvOption* options, std::uint32_t count) override;

private:
    PvHostServices m_table;
    int m_errors = 0;
};

// The file-dialog filter for a class name: its "(*.a, *.b)" patterns, then all files.
QString FilterFromClassName(const char* classPatterns);

} // namespace polyvant
