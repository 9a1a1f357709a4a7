#include "PluginDirectory.h"

#include <filesystem>
#include <system_error>

namespace polyvant::tools {

std::string ProgramPath()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string DefaultPluginDirectory()
{
    const std::string program = ProgramPath();
    const std::string dir =
        program.empty() ? std::string(".") : std::filesystem::path(program).parent_path().string();
    std::error_code ec;
    if (std::filesystem::is_directory(dir + "/plugin", ec))
        return dir + "/plugin/";
    if (std::filesystem::is_directory(dir + "/../lib/polyvant/plugin", ec))
        return dir + "/../lib/polyvant/plugin/";
    return dir + "/plugin/";
}

std::string SettingsReaderModulePath()
{
    const std::string program = ProgramPath();
    if (program.empty())
        return std::string();
    const std::filesystem::path dir = std::filesystem::path(program).parent_path();
    std::error_code ec;
    for (const char* relative :
         {POLYVANT_SETTINGS_READER_FROM_BIN, "../lib/polyvant/" POLYVANT_SETTINGS_READER_NAME}) {
        const std::filesystem::path module = dir / relative;
        if (std::filesystem::is_regular_file(module, ec))
            return module.lexically_normal().string();
    }
    return std::string();
}

} // namespace polyvant::tools
