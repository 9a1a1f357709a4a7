#pragma once
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include <polyvant/sdk.h>

namespace polyvant::formats::test {

// Loads a built plug-in library the way the host does and hands it host services
// that record every message and answer file prompts with preset paths.
class PluginHarness {
public:
    explicit PluginHarness(const char* libraryFile)
    {
        const std::string path = std::string(POLYVANT_PLUGIN_DIR) + "/" + libraryFile;
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            ADD_FAILURE() << dlerror();
            return;
        }
        services.version = kHostServicesVersion;
        services.size = sizeof services;
        services.context = this;
        services.askOpenFile = [](void* c, const char*, const char*) {
            return Dup(static_cast<PluginHarness*>(c)->openPath);
        };
        services.askSaveFile = [](void* c, const char*, const char*, const char*) {
            return Dup(static_cast<PluginHarness*>(c)->savePath);
        };
        services.report = [](void* c, std::int32_t severity, const char* message) {
            static_cast<PluginHarness*>(c)->messages.emplace_back(severity, message);
        };
        services.progress = [](void*, double, const char*) { return std::int32_t(1); };
        services.showHelp = [](void* c, const char* title, const char*) {
            static_cast<PluginHarness*>(c)->messages.emplace_back(PV_INFO, title);
        };
        services.editOptions = [](void*, const char*, PvOption*, std::uint32_t) {
            return std::int32_t(0);
        };
        auto set = reinterpret_cast<PvLibSetHostServicesFn>(dlsym(handle, "LibSetHostServices"));
        EXPECT_NE(set, nullptr);
        if (set) {
            EXPECT_EQ(set(&services), 1);
        }
    }
    ~PluginHarness()
    {
        if (handle)
            dlclose(handle);
    }
    PluginHarness(const PluginHarness&) = delete;
    PluginHarness& operator=(const PluginHarness&) = delete;

    template <typename Fn>
    Fn Entry(const char* name) const
    {
        return handle ? reinterpret_cast<Fn>(dlsym(handle, name)) : nullptr;
    }

    // The class with this exact name and kind, or null.
    ClassDescriptor* Find(const char* className, std::uint32_t superClass) const
    {
        auto count = Entry<PvLibNumberClassesFn>("LibNumberClasses");
        auto describe = Entry<PvLibClassDescriptionFn>("LibClassDescription");
        if (!count || !describe)
            return nullptr;
        for (std::uint32_t i = 0; i < count(); ++i) {
            ClassDescriptor* d = describe(i);
            if (d && std::strcmp(d->ClassName(), className) == 0 && d->SuperClassID() == superClass)
                return d;
        }
        return nullptr;
    }

    // Every message of the given severity, joined by newlines.
    std::string Messages(PvSeverity severity) const
    {
        std::string all;
        for (const auto& [s, text] : messages)
            if (s == severity)
                all += text + "\n";
        return all;
    }

    std::vector<std::pair<int, std::string>> messages;
    std::string openPath, savePath;

private:
    static char* Dup(const std::string& s)
    {
        if (s.empty())
            return nullptr;
        char* p = static_cast<char*>(std::malloc(s.size() + 1));
        std::memcpy(p, s.c_str(), s.size() + 1);
        return p;
    }

    void* handle = nullptr;
    PvHostServices services{};
};

// A fresh directory for one test's files, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/pvfmtXXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path = made ? made : "/tmp";
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (path != "/tmp")
            std::filesystem::remove_all(path, ignored);
    }
    std::string File(const std::string& name) const { return path + "/" + name; }

    std::string path;
};

} // namespace polyvant::formats::test
