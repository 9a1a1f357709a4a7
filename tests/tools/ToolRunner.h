#pragma once
#include <filesystem>
#include <string>
#include <vector>

// Runs the real command-line programs for the tests, each test in its own directory.
namespace polyvant::tooltest {

struct Outcome {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs program (a path) with args in dir, with extra "NAME=VALUE" environment entries.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& dir,
                   const std::vector<std::string>& environment = {});

// The same, sending signal to the program after the given seconds.
Outcome RunProgramAndSignal(const std::string& program, const std::vector<std::string>& args,
                            const std::filesystem::path& dir,
                            const std::vector<std::string>& environment, double seconds,
                            int signal);

// The same on a terminal (80 columns): standard output and error together, as shown.
Outcome RunProgramOnTerminal(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& dir,
                             const std::vector<std::string>& environment = {});

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh directory under the system's temporary directory, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const noexcept { return path; }
    std::filesystem::path operator/(const std::string& name) const { return path / name; }

private:
    std::filesystem::path path;
};

std::string ConvertProgram();
std::string InfoProgram();
std::string Sample(const std::string& relative);

} // namespace polyvant::tooltest
