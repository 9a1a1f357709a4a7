#include "PathUtil.h"

namespace polyvant {

PathParts SplitPath(const std::string& path)
{
    PathParts parts;
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    parts.directory = path.substr(0, nameStart);
    std::string file = path.substr(nameStart);
    const std::size_t dot = file.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        parts.extension = file.substr(dot);
        file.erase(dot);
    }
    parts.name = std::move(file);
    return parts;
}

void SplitPath(const std::string& path, std::string* drive, std::string* directory,
               std::string* name, std::string* extension)
{
    PathParts parts = SplitPath(path);
    if (drive)
        *drive = std::move(parts.drive);
    if (directory)
        *directory = std::move(parts.directory);
    if (name)
        *name = std::move(parts.name);
    if (extension)
        *extension = std::move(parts.extension);
}

std::string MakePath(const std::string& drive, const std::string& directory,
                     const std::string& name, const std::string& extension)
{
    std::string out = drive;
    if (!directory.empty()) {
        out += directory;
        if (directory.back() != '/')
            out += '/';
    }
    out += name;
    if (!extension.empty()) {
        if (extension.front() != '.')
            out += '.';
        out += extension;
    }
    return out;
}

} // namespace polyvant
