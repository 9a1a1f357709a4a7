#include "HeadlessHost.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <strings.h>

#include <polyvant/CheckedAlloc.h>

namespace polyvant {
namespace {

struct OptionValue {
    std::int64_t intValue = 0;
    double doubleValue = 0.0;
    std::string stringValue;
};

bool HasRange(const PvOption& option) noexcept
{
    return option.minValue < option.maxValue;
}

std::optional<std::int64_t> ParseInt(const std::string& text)
{
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || text.empty())
        return std::nullopt;
    return value;
}

std::optional<double> ParseDouble(const std::string& text)
{
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p != end || text.empty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> ParseChoice(const char* choices, const std::string& text)
{
    std::vector<std::string> names;
    if (choices) {
        const char* p = choices;
        for (;;) {
            const char* bar = std::strchr(p, '|');
            names.emplace_back(p, bar ? bar : p + std::strlen(p));
            if (!bar)
                break;
            p = bar + 1;
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (strcasecmp(names[i].c_str(), text.c_str()) == 0)
            return static_cast<std::int64_t>(i);
    }
    if (const auto index = ParseInt(text);
        index && *index >= 0 && static_cast<std::size_t>(*index) < names.size())
        return index;
    return std::nullopt;
}

// The value text converted for the option, or nullopt with the reason in *why.
std::optional<OptionValue> Convert(const PvOption& option, const std::string& text,
                                   std::string* why)
{
    OptionValue value;
    switch (option.type) {
    case PV_OPTION_BOOL: {
        static const char* const kTrue[] = {"1", "true", "yes", "on"};
        static const char* const kFalse[] = {"0", "false", "no", "off"};
        for (const char* word : kTrue) {
            if (strcasecmp(word, text.c_str()) == 0) {
                value.intValue = 1;
                return value;
            }
        }
        for (const char* word : kFalse) {
            if (strcasecmp(word, text.c_str()) == 0)
                return value;
        }
        *why = "expects 1/0, true/false, yes/no or on/off";
        return std::nullopt;
    }
    case PV_OPTION_INT: {
        const auto parsed = ParseInt(text);
        if (!parsed) {
            *why = "expects a whole number";
            return std::nullopt;
        }
        if (HasRange(option) &&
            (double(*parsed) < option.minValue || double(*parsed) > option.maxValue)) {
            *why = "is outside " + std::to_string(std::llround(option.minValue)) + " ... " +
                   std::to_string(std::llround(option.maxValue));
            return std::nullopt;
        }
        value.intValue = *parsed;
        return value;
    }
    case PV_OPTION_DOUBLE: {
        const auto parsed = ParseDouble(text);
        if (!parsed) {
            *why = "expects a finite number";
            return std::nullopt;
        }
        if (HasRange(option) && (*parsed < option.minValue || *parsed > option.maxValue)) {
            char range[96];
            std::snprintf(range, sizeof range, "is outside %g ... %g", option.minValue,
                          option.maxValue);
            *why = range;
            return std::nullopt;
        }
        value.doubleValue = *parsed;
        return value;
    }
    case PV_OPTION_CHOICE: {
        const auto index = ParseChoice(option.choices, text);
        if (!index) {
            *why = std::string("expects one of ") + (option.choices ? option.choices : "");
            return std::nullopt;
        }
        value.intValue = *index;
        return value;
    }
    case PV_OPTION_STRING:
        value.stringValue = text;
        return value;
    default:
        *why = "has a type this host does not know";
        return std::nullopt;
    }
}

} // namespace

HeadlessHost::HeadlessHost() : table(MakeHostServices(*this)) {}

void HeadlessHost::QueueOpenPath(const std::string& path)
{
    openPaths.push_back(path);
}

void HeadlessHost::QueueSavePath(const std::string& path)
{
    savePaths.push_back(path);
}

bool HeadlessHost::SetOption(const std::string& assignment, std::string* error)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
        if (error)
            *error = "option \"" + assignment + "\" is not NAME=VALUE";
        return false;
    }
    std::string name = assignment.substr(0, equals);
    std::string value = assignment.substr(equals + 1);
    for (Setting& setting : settings) {
        if (setting.name == name) {
            setting.value = std::move(value);
            return true;
        }
    }
    settings.push_back({std::move(name), std::move(value), false});
    return true;
}

std::vector<std::string> HeadlessHost::UnusedOptions() const
{
    std::vector<std::string> names;
    for (const Setting& setting : settings) {
        if (!setting.used)
            names.push_back(setting.name);
    }
    return names;
}

int HeadlessHost::Count(PvSeverity severity) const noexcept
{
    int n = 0;
    for (const Message& message : messages)
        n += message.severity == severity ? 1 : 0;
    return n;
}

char* HeadlessHost::NextPath(std::deque<std::string>& queue, const char* what)
{
    if (queue.empty()) {
        Report(PV_INFO, (std::string("no file given to ") + what).c_str());
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(queue.front(), ec);
    queue.pop_front();
    if (ec)
        return nullptr;
    return CheckedStrdup(path.c_str());
}

char* HeadlessHost::AskOpenFile(const char*, const char*)
{
    return NextPath(openPaths, "open");
}

char* HeadlessHost::AskSaveFile(const char*, const char*, const char*)
{
    return NextPath(savePaths, "save");
}

void HeadlessHost::Report(PvSeverity severity, const char* message)
{
    messages.push_back({severity, message});
    if (echo) {
        static const char* const kPrefix[] = {"info", "warning", "error"};
        std::fprintf(stderr, "%s: %s\n", kPrefix[severity], message);
    }
}

bool HeadlessHost::Progress(double fraction, const char* text)
{
    if (cancelled)
        return false;
    if (progressCallback && !progressCallback(fraction, text)) {
        cancelled = true;
        return false;
    }
    return true;
}

void HeadlessHost::ShowHelp(const char* title, const char* text)
{
    helpTexts.push_back({title, text});
    if (echo)
        std::printf("%s\n\n%s\n", title, text);
}

bool HeadlessHost::EditOptions(const char* title, PvOption* options, std::uint32_t count)
{
    struct Change {
        PvOption* option;
        OptionValue value;
        Setting* setting;
    };
    std::vector<Change> changes;
    for (std::uint32_t i = 0; i < count; ++i) {
        PvOption& option = options[i];
        if (!option.name)
            continue;
        for (Setting& setting : settings) {
            if (setting.name != option.name)
                continue;
            std::string why;
            auto value = Convert(option, setting.value, &why);
            if (!value) {
                setting.used = true;
                Report(PV_ERROR, (std::string(title) + ": option " + setting.name + "=" +
                                  setting.value + " " + why)
                                     .c_str());
                return false;
            }
            changes.push_back({&option, std::move(*value), &setting});
        }
    }
    // Applied only once every value converted, so a bad one changes nothing.
    for (Change& change : changes) {
        change.setting->used = true;
        PvOption& option = *change.option;
        switch (option.type) {
        case PV_OPTION_DOUBLE:
            option.doubleValue = change.value.doubleValue;
            break;
        case PV_OPTION_STRING:
            CheckedFree(option.stringValue);
            option.stringValue = CheckedStrdup(change.value.stringValue.c_str());
            break;
        default:
            option.intValue = change.value.intValue;
            break;
        }
    }
    return true;
}

} // namespace polyvant
