// Starts line_player in a folder and reports the time until its start-up
// messages are out (just before its first wait), then ends it.
//   first_wait LINE_PLAYER FOLDER

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: first_wait LINE_PLAYER FOLDER\n");
        return 2;
    }
    int out[2];
    if (pipe(out) != 0)
        return 1;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        close(out[0]);
        if (chdir(argv[2]) != 0)
            _exit(126);
        execl(argv[1], argv[1], "100", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (text.find("dream!") == std::string::npos && (got = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(got));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::printf("%.1f ms\n", std::chrono::duration<double, std::milli>(elapsed).count());
    return text.find("dream!") == std::string::npos;
}
