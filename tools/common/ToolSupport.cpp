#include "ToolSupport.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sched.h>
#include <system_error>
#include <unistd.h>

#include <polyvant/Plugin.h>

#include "ImportCheck.h"
#include "ImportClassLookup.h"
#include "PluginManager.h"
#include "app/Strings.h"

namespace polyvant::tools {
namespace {

char Lower(char c) noexcept
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool StartsIgnoringCase(std::string_view text, std::string_view prefix) noexcept
{
    return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// The extensions a class name lists, in order.
std::vector<std::string> PatternExtensions(std::string_view className)
{
    std::vector<std::string> found;
    for (std::size_t at = className.find("*."); at != std::string_view::npos;
         at = className.find("*.", at + 2)) {
        std::size_t end = at + 2;
        while (end < className.size() &&
               (std::isalnum(static_cast<unsigned char>(className[end])) || className[end] == '_' ||
                className[end] == '-'))
            ++end;
        if (end > at + 2)
            found.emplace_back(className.substr(at + 2, end - at - 2));
    }
    return found;
}

} // namespace

void RestoreChildSignal()
{
    std::signal(SIGCHLD, SIG_DFL);
}

unsigned UsableCoreCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return unsigned(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? unsigned(online) : 1;
}

std::string ClassNameOf(ClassDescriptor* descriptor)
{
    return descriptor ? PluginText(descriptor->ClassName()).value_or(std::string()) : std::string();
}

int FindClassByText(const PluginManager& manager, std::uint32_t superClassId, std::string_view text,
                    std::string* why)
{
    std::vector<std::pair<int, std::string>> classes;
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor && descriptor->SuperClassID() == superClassId)
            classes.emplace_back(i, ClassNameOf(descriptor));
    }
    for (const auto& [i, name] : classes) {
        if (name == text)
            return i;
    }
    for (const auto& [i, name] : classes) {
        if (SameIgnoringCase(name, text))
            return i;
    }
    std::string_view extension = text;
    if (extension.substr(0, 2) == "*.")
        extension.remove_prefix(2);
    else if (extension.substr(0, 1) == ".")
        extension.remove_prefix(1);
    // Several import classes may list one extension ("obj"): the built-in table settles
    // which the viewer would take.
    if (superClassId == kImportSuperClassId && !extension.empty()) {
        const int found = FindImportClass(manager, {}, {}, "file." + std::string(extension));
        if (found >= 0)
            return found;
    }
    for (const auto& [i, name] : classes) {
        for (const std::string& listed : PatternExtensions(name)) {
            if (SameIgnoringCase(listed, extension))
                return i;
        }
    }
    int match = -1;
    int matches = 0;
    for (const auto& [i, name] : classes) {
        if (!text.empty() && StartsIgnoringCase(name, text)) {
            match = i;
            ++matches;
        }
    }
    const char* kind = superClassId == kImportSuperClassId ? "import" : "export";
    if (matches == 1)
        return match;
    if (why)
        *why = std::string(matches > 1 ? "more than one " : "no ") + kind + " class matches \"" +
               std::string(text) + "\"; --list shows them";
    return -1;
}

void PrintVersion(const char* program)
{
    std::printf("%s (%s, build %ld)\n", program, text::kAboutVersion, text::kBuildNumber);
}

void PrintClassList(const PluginManager& manager)
{
    for (const std::uint32_t kind : {kImportSuperClassId, kExportSuperClassId}) {
        std::printf("%s classes:\n", kind == kImportSuperClassId ? "Import" : "Export");
        for (int i = 0; i < manager.ClassCount(); ++i) {
            ClassDescriptor* descriptor = manager.GetClass(i);
            if (descriptor && descriptor->SuperClassID() == kind)
                std::printf("  %s\n", ClassNameOf(descriptor).c_str());
        }
    }
}

bool TakeOptionValue(int argc, char** argv, int& i, const std::string& arg,
                     const std::vector<std::string>& names, std::string& name, std::string& value,
                     std::string& problem)
{
    for (const std::string& known : names) {
        if (arg == known) {
            if (i + 1 >= argc) {
                problem = arg + " needs a value";
                return true;
            }
            name = known;
            value = argv[++i];
            return true;
        }
        // --jobs=2, and -j2 for the one-letter ones
        const bool shortForm = known.size() == 2;
        if (arg.size() > known.size() && arg.compare(0, known.size(), known) == 0 &&
            (shortForm || arg[known.size()] == '=')) {
            name = known;
            value = arg.substr(known.size() + (shortForm ? 0 : 1));
            return true;
        }
    }
    return false;
}

std::string FirstPatternExtension(std::string_view className)
{
    const auto found = PatternExtensions(className);
    return found.empty() ? std::string() : found.front();
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += char(c);
            ++i;
        } else {
            // Keep a well-formed UTF-8 sequence; replace any other byte.
            const int length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool valid = length > 0 && i + std::size_t(length) <= text.size() && c < 0xF5;
            for (int k = 1; valid && k < length; ++k)
                valid = (static_cast<unsigned char>(text[i + std::size_t(k)]) & 0xC0) == 0x80;
            if (valid) {
                out.append(text.substr(i, std::size_t(length)));
                i += std::size_t(length);
            } else {
                out += "\\ufffd";
                ++i;
            }
        }
    }
    out += '"';
    return out;
}

std::string Counted(std::uint64_t count, std::string_view one, std::string_view many)
{
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string SignalDescription(int signal)
{
    const char* name = strsignal(signal);
    return "signal " + std::to_string(signal) + " (" + (name ? name : "unknown") + ")";
}

double MonotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

} // namespace polyvant::tools
