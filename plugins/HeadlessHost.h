#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "HostServicesTable.h"

namespace polyvant {

// Host services without a user: for the command-line tools and the tests.
// Messages are collected (and echoed to stderr when asked), file prompts are answered
// from paths the caller queued, options keep their defaults unless the caller set
// NAME=VALUE pairs, progress goes to an optional callback, help texts are collected
// (and echoed to stdout). Must outlive every library that was handed Services().
class HeadlessHost : public HostServicesBackend {
public:
    struct Message {
        PvSeverity severity;
        std::string text;
    };
    struct HelpText {
        std::string title;
        std::string text;
    };
    // Returns false to cancel the work.
    using ProgressCallback = std::function<bool(double fraction, const std::string& text)>;

    HeadlessHost();

    const PvHostServices* Services() const noexcept { return &table; }

    // PvHostFlags the table announces to the libraries handed it afterwards.
    void SetFlags(std::uint32_t flags) noexcept { table.flags = flags; }

    // Prints messages to stderr and help to stdout as they arrive.
    void SetEcho(bool on) noexcept { echo = on; }

    // Answers for the next file prompts, used in order; an empty queue answers
    // "cancelled". Relative paths are made absolute.
    void QueueOpenPath(const std::string& path);
    void QueueSavePath(const std::string& path);

    // Sets option NAME to VALUE for every later option edit, "NAME=VALUE". False, with
    // the reason in *error, when the text has no "=" or an empty name.
    bool SetOption(const std::string& assignment, std::string* error = nullptr);
    bool HasOptions() const noexcept { return !settings.empty(); }
    // Names set with SetOption that no plug-in has offered so far.
    std::vector<std::string> UnusedOptions() const;

    void SetProgressCallback(ProgressCallback callback) { progressCallback = std::move(callback); }
    // Makes every later progress call answer "cancel"; safe from another thread.
    void Cancel() noexcept { cancelled = true; }

    const std::vector<Message>& Messages() const noexcept { return messages; }
    int Count(PvSeverity severity) const noexcept;
    const std::vector<HelpText>& HelpTexts() const noexcept { return helpTexts; }
    void ClearMessages() noexcept { messages.clear(); }

    char* AskOpenFile(const char* title, const char* classPatterns) override;
    char* AskSaveFile(const char* title, const char* classPatterns,
                      const char* defaultExtension) override;
    void Report(PvSeverity severity, const char* message) override;
    bool Progress(double fraction, const char* text) override;
    void ShowHelp(const char* title, const char* text) override;
    // Applies the options set with SetOption whose names match. A value that does not
    // fit its option's type or range is reported as an error and nothing changes
    // (result false); otherwise true.
    bool EditOptions(const char* title, PvOption* options, std::uint32_t count) override;

private:
    struct Setting {
        std::string name;
        std::string value;
        bool used;
    };

    char* NextPath(std::deque<std::string>& queue, const char* what);

    PvHostServices table;
    bool echo = false;
    std::deque<std::string> openPaths;
    std::deque<std::string> savePaths;
    std::vector<Setting> settings;
    ProgressCallback progressCallback;
    std::atomic<bool> cancelled{false};
    std::vector<Message> messages;
    std::vector<HelpText> helpTexts;
};

} // namespace polyvant
