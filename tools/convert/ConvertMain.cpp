// polyvant-convert: converts model files between the formats of the plug-ins, one
// child process per file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <polyvant/Plugin.h>

#include "Batch.h"
#include "ImportClassLookup.h"
#include "PluginManager.h"
#include "tools/common/ToolSupport.h"

namespace {

using namespace polyvant;
using namespace polyvant::tools;

const char kUsage[] =
    "Usage: polyvant-convert [OPTION]... IN OUT\n"
    "       polyvant-convert [OPTION]... --to CLASS -o DIR FILE...\n"
    "       polyvant-convert --list\n"
    "Converts model files through the format plug-ins the viewer uses.\n"
    "\n"
    "The import class comes from the input's extension, as in the viewer: the viewer's\n"
    "extension table first, then the first import class whose name lists \"*.EXT\". The\n"
    "export class comes from OUT's extension. A CLASS is given by its name, by an\n"
    "extension its name lists (stl, .stl, *.stl) or by a unique start of its name.\n"
    "\n"
    "Options:\n"
    "  --from CLASS           import every file with CLASS\n"
    "  --to CLASS             export with CLASS (needed with -o)\n"
    "  -o, --output-dir DIR   write each FILE as DIR/NAME.EXT, EXT the export class's\n"
    "                         first extension\n"
    "  -j, --jobs N           convert N files at once (default: the cores it may run on)\n"
    "  --option NAME=VALUE    set an option of the import or export class (repeatable),\n"
    "                         e.g. --option format=ASCII for ASCII STL\n"
    "  --verify               read each written file back and compare its faces,\n"
    "                         distinct positions and bounds with the source\n"
    "  --no-clobber           keep an existing output; the file counts as failed\n"
    "  --version              print the version and exit\n"
    "  --time-limit SEC       end a file's conversion after SEC seconds (default 300;\n"
    "                         0: none)\n"
    "  --memory-limit MIB     memory a file's conversion may allocate, in MiB; the\n"
    "                         mapped input does not count (default 4096; 0: none; not\n"
    "                         applied in sanitizer builds)\n"
    "  -q, --quiet            print only failures\n"
    "  --list                 print the import and export classes with their patterns\n"
    "  --plugin-dir DIR       load the plug-ins from DIR (default: plugin/ beside the\n"
    "                         program, or ../lib/polyvant/plugin/)\n"
    "  -h, --help             show this help and exit\n"
    "\n"
    "Each file is converted in a child process of its own: an importer that crashes,\n"
    "hangs or runs out of memory costs that file only, and the report names the signal\n"
    "or the limit that ended it. The output is written under a temporary name in its\n"
    "directory, flushed to the disk and renamed when complete, so an existing output is\n"
    "replaced only by a complete, successful conversion, even when the system crashes.\n"
    "A bad file is reported with the plug-in's reason and the batch goes on; at the\n"
    "end \"N converted, M failed\" is printed.\n"
    "On a terminal a progress line shows the files done and the current file's progress.\n"
    "\n"
    "An OUT that is the input itself, or that exists and is not a regular file, is\n"
    "refused; a symbolic link is followed and its target replaced. A file given more\n"
    "than once is converted once.\n"
    "\n"
    "Exit status: 0 when every file converted, 1 when any failed, 2 on a usage error,\n"
    "130 when interrupted.\n";

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "polyvant-convert: %s (see --help)\n", problem.c_str());
    return 2;
}

bool ParseCount(const std::string& text, unsigned long& out)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9)
        return false;
    out = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    RestoreChildSignal();
    BatchSettings batch;
    std::string pluginDir, fromClass, toClass, outputDir;
    std::vector<std::string> files;
    bool list = false;
    bool switchesEnded = false;
    batch.jobs = UsableCoreCount();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (switchesEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        std::string name, value, problem;
        if (arg == "--") {
            switchesEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            PrintVersion("polyvant-convert");
            return 0;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--verify") {
            batch.verify = true;
        } else if (arg == "--no-clobber") {
            batch.noClobber = true;
        } else if (arg == "--quiet" || arg == "-q") {
            batch.quiet = true;
        } else if (TakeOptionValue(argc, argv, i, arg,
                                   {"--from", "--to", "-o", "--output-dir", "-j", "--jobs",
                                    "--option", "--plugin-dir", "--time-limit", "--memory-limit"},
                                   name, value, problem)) {
            if (!problem.empty())
                return Usage(problem);
            unsigned long number = 0;
            if (name == "--from") {
                fromClass = value;
            } else if (name == "--to") {
                toClass = value;
            } else if (name == "-o" || name == "--output-dir") {
                outputDir = value;
            } else if (name == "--plugin-dir") {
                pluginDir = value;
            } else if (name == "--option") {
                const std::size_t equals = value.find('=');
                if (equals == std::string::npos || equals == 0)
                    return Usage("option \"" + value + "\" is not NAME=VALUE");
                batch.options.push_back(value);
            } else if (!ParseCount(value, number)) {
                return Usage(name + " expects a whole number, not \"" + value + "\"");
            } else if (name == "-j" || name == "--jobs") {
                if (number == 0)
                    return Usage("-j expects at least 1");
                batch.jobs = unsigned(number);
            } else if (name == "--time-limit") {
                batch.timeLimitSeconds = number;
            } else {
                batch.memoryLimitMiB = number;
            }
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (pluginDir.empty())
        pluginDir = DefaultPluginDirectory();
    std::error_code ec;
    batch.pluginDir = std::filesystem::absolute(pluginDir, ec).string();

    // The stored table is read by a child while the plug-ins load here; --from names
    // the import class of every file, and the table is not needed.
    ExtensionTableReader tableReader;
    if (!list && fromClass.empty())
        tableReader.Start(SettingsReaderModulePath());
    PluginManager manager;
    manager.ScanDirectory(batch.pluginDir.c_str(), kPluginInterfaceVersion);
    batch.plugins = &manager;
    if (manager.ClassCount() == 0) {
        std::fprintf(stderr, "polyvant-convert: no plug-ins found in %s (see --plugin-dir)\n",
                     batch.pluginDir.c_str());
        return 2;
    }
    if (list) {
        PrintClassList(manager);
        return 0;
    }

    std::vector<FilePlan> plans;
    if (outputDir.empty()) {
        if (files.size() != 2)
            return Usage(files.size() < 2 ? "IN and OUT are needed"
                                          : "more than IN and OUT given; use --to CLASS -o DIR");
        plans.push_back({files[0], files[1]});
    } else {
        if (files.empty())
            return Usage("no input file given");
        if (toClass.empty())
            return Usage("-o needs --to CLASS");
        for (const std::string& file : files)
            plans.push_back({file, std::string()});
    }

    std::string why;
    int forcedImport = -1;
    if (!fromClass.empty() &&
        (forcedImport = FindClassByText(manager, kImportSuperClassId, fromClass, &why)) < 0)
        return Usage(why);
    int exportClass = -1;
    if (!toClass.empty()) {
        if ((exportClass = FindClassByText(manager, kExportSuperClassId, toClass, &why)) < 0)
            return Usage(why);
    } else if ((exportClass = FindClassByPattern(manager, kExportSuperClassId, files[1])) < 0) {
        return Usage("no export class lists the extension of " + files[1] + "; use --to CLASS");
    }
    const std::string exportName = ClassNameOf(manager.GetClass(exportClass));
    if (!outputDir.empty()) {
        std::error_code made;
        std::filesystem::create_directories(outputDir, made);
        if (!std::filesystem::is_directory(outputDir, ec)) {
            const std::string reason = std::filesystem::exists(outputDir, ec)
                                           ? "it exists and is not a directory"
                                       : made ? made.message()
                                              : "unknown reason";
            std::fprintf(stderr, "polyvant-convert: cannot make the output directory %s: %s\n",
                         outputDir.c_str(), reason.c_str());
            return 2;
        }
        const std::string extension = FirstPatternExtension(exportName);
        for (FilePlan& plan : plans)
            plan.output =
                (std::filesystem::path(outputDir) / std::filesystem::path(plan.input).stem())
                    .string() +
                (extension.empty() ? "" : "." + extension);
    }

    const ExtensionTable table = tableReader.Take();
    if (!table.notice.empty() && !batch.quiet)
        std::fprintf(stderr, "polyvant-convert: %s\n", table.notice.c_str());
    for (FilePlan& plan : plans) {
        plan.importClass = forcedImport >= 0 ? forcedImport
                                             : FindImportClass(manager, table.extensions,
                                                               table.classes, plan.input);
        plan.exportClass = exportClass;
        if (plan.importClass < 0)
            plan.refusal = "extension not recognized (no import class; use --from CLASS)";
        if (batch.verify) {
            // The format's own reader, whatever OUT is named; else OUT's extension decides.
            plan.verifyClass = FindClassNamed(manager, kImportSuperClassId, exportName);
            if (plan.verifyClass < 0)
                plan.verifyClass =
                    FindImportClass(manager, table.extensions, table.classes, plan.output);
            if (plan.verifyClass < 0 && plan.refusal.empty())
                plan.refusal = "--verify: no import class reads " + plan.output;
        }
    }
    // Workers need only the classes of their files; the rest would be copied by every
    // fork and unmapped by every worker's end.
    std::vector<int> used;
    for (const FilePlan& plan : plans)
        used.insert(used.end(), {plan.importClass, plan.exportClass, plan.verifyClass});
    manager.UnloadLibrariesExcept(used);
    return RunBatch(batch, plans);
}
