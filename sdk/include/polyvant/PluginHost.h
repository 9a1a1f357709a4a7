#pragma once
#include <cstddef>
#include <cstdio>

#include "HostServices.h"

// The plug-in's side of the host services: keeps the table the host handed over
// (one per library) and falls back to stderr when a host never calls
// LibSetHostServices. Interactive calls then say so and do nothing.

namespace polyvant {

class HostLink {
public:
    static int Accept(const PvHostServices* services) noexcept
    {
        const bool usable = services && services->version >= 1 &&
                            services->size >= offsetof(PvHostServices, context) + sizeof(void*);
        Table() = usable ? services : nullptr;
        return usable ? 1 : 0;
    }

    static bool Available() noexcept { return Table() != nullptr; }

    static void Report(PvSeverity severity, const char* message) noexcept
    {
        if (auto fn = Field(&PvHostServices::report, offsetof(PvHostServices, report))) {
            fn(Table()->context, severity, message);
            return;
        }
        static const char* const kPrefix[] = {"info", "warning", "error"};
        const int i = severity >= PV_INFO && severity <= PV_ERROR ? severity : PV_ERROR;
        std::fprintf(stderr, "%s: %s\n", kPrefix[i], message ? message : "");
    }
    static void Error(const char* message) noexcept { Report(PV_ERROR, message); }
    static void Warning(const char* message) noexcept { Report(PV_WARNING, message); }
    static void Info(const char* message) noexcept { Report(PV_INFO, message); }

    // True when the host flushes exported files to the disk itself (version 2 flag).
    static bool HostFlushesExports() noexcept
    {
        const PvHostServices* t = Table();
        return t && t->version >= 2 &&
               t->size >= offsetof(PvHostServices, flags) + sizeof(t->flags) &&
               (t->flags & PV_HOST_FLUSHES_EXPORTS) != 0;
    }

    // True to go on, false when the user cancelled.
    static bool Progress(double fraction, const char* text) noexcept
    {
        if (auto fn = Field(&PvHostServices::progress, offsetof(PvHostServices, progress)))
            return fn(Table()->context, fraction, text) != 0;
        return true;
    }

    // A malloc'd path, or null (cancelled, or no host services).
    static char* AskOpenFile(const char* title, const char* classPatterns) noexcept
    {
        if (auto fn = Field(&PvHostServices::askOpenFile, offsetof(PvHostServices, askOpenFile)))
            return fn(Table()->context, title, classPatterns);
        NoServices("choose a file to open");
        return nullptr;
    }
    static char* AskSaveFile(const char* title, const char* classPatterns,
                             const char* defaultExtension) noexcept
    {
        if (auto fn = Field(&PvHostServices::askSaveFile, offsetof(PvHostServices, askSaveFile)))
            return fn(Table()->context, title, classPatterns, defaultExtension);
        NoServices("choose a file to save");
        return nullptr;
    }
    static void ShowHelp(const char* title, const char* text) noexcept
    {
        if (auto fn = Field(&PvHostServices::showHelp, offsetof(PvHostServices, showHelp))) {
            fn(Table()->context, title, text);
            return;
        }
        NoServices("show help");
    }
    // True when the user accepted the edited options.
    static bool EditOptions(const char* title, PvOption* options, unsigned count) noexcept
    {
        if (auto fn = Field(&PvHostServices::editOptions, offsetof(PvHostServices, editOptions)))
            return fn(Table()->context, title, options, count) != 0;
        NoServices("edit options");
        return false;
    }

private:
    static const PvHostServices*& Table() noexcept
    {
        static const PvHostServices* table = nullptr;
        return table;
    }

    template <typename Fn>
    static Fn Field(Fn PvHostServices::*member, std::size_t offset) noexcept
    {
        const PvHostServices* t = Table();
        if (!t || t->size < offset + sizeof(Fn))
            return nullptr;
        return t->*member;
    }

    static void NoServices(const char* what) noexcept
    {
        std::fprintf(stderr, "plug-in: the host offers no services to %s; nothing done\n", what);
    }
};

} // namespace polyvant

// Defines the optional fifth entry point; put it in one source file of a plug-in.
#define POLYVANT_DEFINE_HOST_SERVICES_ENTRY()                                              \
    POLYVANT_EXPORT std::int32_t LibSetHostServices(const PvHostServices* services)        \
    {                                                                                      \
        return polyvant::HostLink::Accept(services);                                      \
    }
