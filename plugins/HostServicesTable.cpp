#include "HostServicesTable.h"

namespace polyvant {
namespace {

HostServicesBackend& Backend(void* context) noexcept
{
    return *static_cast<HostServicesBackend*>(context);
}

const char* Text(const char* s) noexcept
{
    return s ? s : "";
}

char* AskOpenFile(void* context, const char* title, const char* classPatterns)
{
    try {
        return Backend(context).AskOpenFile(Text(title), Text(classPatterns));
    } catch (...) {
        return nullptr;
    }
}

char* AskSaveFile(void* context, const char* title, const char* classPatterns,
                  const char* defaultExtension)
{
    try {
        return Backend(context).AskSaveFile(Text(title), Text(classPatterns),
                                            Text(defaultExtension));
    } catch (...) {
        return nullptr;
    }
}

void Report(void* context, std::int32_t severity, const char* message)
{
    if (severity < PV_INFO || severity > PV_ERROR)
        severity = PV_ERROR;
    try {
        Backend(context).Report(static_cast<PvSeverity>(severity), Text(message));
    } catch (...) {
    }
}

std::int32_t Progress(void* context, double fraction, const char* text)
{
    if (!(fraction >= 0.0)) // also NaN
        fraction = 0.0;
    if (fraction > 1.0)
        fraction = 1.0;
    try {
        return Backend(context).Progress(fraction, Text(text)) ? 1 : 0;
    } catch (...) {
        return 1;
    }
}

void ShowHelp(void* context, const char* title, const char* text)
{
    try {
        Backend(context).ShowHelp(Text(title), Text(text));
    } catch (...) {
    }
}

std::int32_t EditOptions(void* context, const char* title, PvOption* options, std::uint32_t count)
{
    if (!options && count > 0)
        return 0;
    try {
        return Backend(context).EditOptions(Text(title), options, count) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

PvHostServices MakeHostServices(HostServicesBackend& backend) noexcept
{
    PvHostServices table{};
    table.version = kHostServicesVersion;
    table.size = sizeof(PvHostServices);
    table.context = &backend;
    table.askOpenFile = &AskOpenFile;
    table.askSaveFile = &AskSaveFile;
    table.report = &Report;
    table.progress = &Progress;
    table.showHelp = &ShowHelp;
    table.editOptions = &EditOptions;
    return table;
}

} // namespace polyvant
