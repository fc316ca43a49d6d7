// What reading the X sessions costs at each showing: list_sessions over a folder of 20 entries
// shaped like Debian's (with TryExec looked up on the session's PATH), cold-cache effects aside.
// Usage: sessions_bench [ITERATIONS]; prints the median and the slowest run in microseconds.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "session_list.h"

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 201;
    char dir_template[] = "/tmp/vesko-sessions-bench-XXXXXX";
    const std::string dir = ::mkdtemp(dir_template);
    for (int i = 0; i < 20; ++i) {
        const std::string path = dir + "/session" + std::to_string(i) + ".desktop";
        std::ofstream(path) << "[Desktop Entry]\nVersion=1.0\nName=Session " << i
                            << "\nName[de]=Sitzung " << i
                            << "\nComment=Use this session to run a desktop environment\n"
                               "Exec=start-session-"
                            << i << " %U\nTryExec=sh\nIcon=\nType=Application\nDesktopNames=D" << i
                            << ";Shared;\nKeywords=desktop;wm;session;\n";
        ::chmod(path.c_str(), 0644);
    }
    std::vector<double> micros;
    size_t listed = 0;
    for (int i = 0; i < iterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        listed = list_sessions(dir).size();
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("list_sessions: %zu entries, %d runs: median %.1f us, slowest %.1f us\n", listed,
                iterations, micros[micros.size() / 2], micros.back());
    (void)std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
