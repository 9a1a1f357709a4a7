// Runs the real settings save: "once", or "loop" (forever, each save with a new
// generation written into every extension entry) for the kill tests.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/Settings.h"

int main(int argc, char** argv)
{
    const bool loop = argc > 1 && std::strcmp(argv[1], "loop") == 0;
    polyvant::Settings settings("polyvant", "/opt/pv/plugin/");
    for (long generation = 1;; ++generation) {
        settings.extensions.clear();
        settings.extensionClasses.clear();
        for (int i = 0; i < 400; ++i) {
            settings.extensions.push_back(".e" + std::to_string(i));
            settings.extensionClasses.push_back("generation " + std::to_string(generation));
        }
        settings.vo_top = int(generation % 6);
        if (generation == 1) {
            std::puts("saving");
            std::fflush(stdout);
        }
        settings.SaveSettings();
        if (!settings.LastSaveSucceeded())
            return 2;
        if (!loop)
            return 0;
    }
}
