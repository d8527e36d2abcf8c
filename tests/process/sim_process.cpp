#include "sim_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const char* const kSettings[] = {"SIM_ECHOES", "SIM_SETUP", "SIM_REALTIME"};

// ranging-sim's path, after the emulator and its options where it is built
// for another machine.
const char* const kSimCommand[] = {RANGING_SIM_COMMAND, nullptr};

} // namespace

SimProcess startSim(const Env& env, int stdoutFd)
{
    int out[2] = {-1, -1};
    int err[2];
    // Close-on-exec: the program must hold no end of its pipes but the ones
    // it writes to, or it would never see its reader go away.
    if ((stdoutFd < 0 && pipe2(out, O_CLOEXEC) != 0) || pipe2(err, O_CLOEXEC) != 0)
        std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(stdoutFd < 0 ? out[1] : stdoutFd, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const char* name : kSettings)
            unsetenv(name);
        for (const auto& [name, value] : env)
            setenv(name, value, 1);
        execv(kSimCommand[0], const_cast<char* const*>(kSimCommand));
        _exit(127);
    }
    if (stdoutFd < 0)
        close(out[1]);
    close(err[1]);
    return {pid, out[0], err[0]};
}

std::string readAll(int fd)
{
    std::string text;
    char chunk[4096];
    for (ssize_t n = 0; (n = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<size_t>(n));
    close(fd);
    return text;
}

int waitForEnding(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

std::string lines(const std::vector<const char*>& readings)
{
    std::string text = "Program is starting ... \n";
    for (const char* cm : readings)
        text += std::string("The distance is : ") + cm + " cm\n";
    return text;
}

std::string echoes(int count, int widthUs)
{
    std::string list;
    for (int i = 0; i < count; ++i)
        list += std::to_string(widthUs) + ",";
    return list;
}
