#include "ToolRunner.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace polyvant::tooltest {
namespace {

// What the tools keep between runs goes to the build tree, never to the user's cache.
const char kTestCache[] = "XDG_CACHE_HOME=" POLYVANT_BINARY_DIR "/tests/tools-cache";

// An argv or envp over strings that outlive it, null-terminated.
std::vector<char*> Pointers(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (std::string& entry : strings)
        pointers.push_back(entry.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Outcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::filesystem::path& dir, const std::vector<std::string>& environment)
{
    return RunProgramAndSignal(program, args, dir, environment, 0, 0);
}

Outcome RunProgramAndSignal(const std::string& program, const std::vector<std::string>& args,
                            const std::filesystem::path& dir,
                            const std::vector<std::string>& environment, double seconds, int signal)
{
    const std::filesystem::path outPath = dir / ".stdout", errPath = dir / ".stderr";
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv = Pointers(argStrings);
    // Later entries replace earlier ones of the same name: getenv takes the first.
    std::vector<std::string> envStrings;
    const auto put = [&envStrings](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(envStrings, [&](const std::string& e) { return e.starts_with(name); });
        envStrings.push_back(entry);
    };
    for (char** e = environ; *e; ++e)
        envStrings.emplace_back(*e);
    put(kTestCache);
    for (const std::string& entry : environment)
        put(entry);
    std::vector<char*> envp = Pointers(envStrings);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    // As from a shell: nothing beyond the standard descriptors, whatever the test has open.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + program);
    if (signal != 0) {
        usleep(useconds_t(seconds * 1e6));
        kill(pid, signal);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = ReadFile(outPath);
    outcome.err = ReadFile(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return outcome;
}

Outcome RunProgramOnTerminal(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& dir,
                             const std::vector<std::string>& environment)
{
    std::vector<std::string> argStrings = {program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv = Pointers(argStrings);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0)
        throw std::runtime_error("cannot open a terminal for " + program);
    if (pid == 0) {
        putenv(const_cast<char*>(kTestCache));
        for (const std::string& entry : environment)
            putenv(strdup(entry.c_str()));
        if (chdir(dir.c_str()) == 0) {
            closefrom(3);
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }
    Outcome outcome;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(terminal, chunk, sizeof chunk);
        if (n > 0)
            outcome.out.append(chunk, std::size_t(n));
        else if (n == 0 || errno != EINTR)
            break; // EIO once the program and its children have closed the terminal
    }
    close(terminal);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pvtool-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary directory");
    path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string ConvertProgram()
{
    return POLYVANT_BINARY_DIR "/bin/polyvant-convert";
}

std::string InfoProgram()
{
    return POLYVANT_BINARY_DIR "/bin/polyvant-info";
}

std::string Sample(const std::string& relative)
{
    return POLYVANT_TESTDATA_DIR "/" + relative;
}

} // namespace polyvant::tooltest
