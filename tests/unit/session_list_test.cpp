#include "session_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "session_choice.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/vesko-sessions-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    void write(const std::string& name, const std::string& text, mode_t mode = 0644) const {
        std::ofstream(path + "/" + name) << text;
        ::chmod((path + "/" + name).c_str(), mode);
    }
};

TEST(SessionList, ListsUsableEntriesSortedByName) {
    const TempDir dir;
    dir.write("xfce.desktop",
              "[Desktop Entry]\nName=Xfce Session\nExec=startxfce4 %U\n"
              "DesktopNames=XFCE;\n");
    dir.write("mate.desktop",
              "[Desktop Entry]\nName=MATE\nExec=mate-session\n"
              "TryExec=/bin/sh\nDesktopNames=MATE;X-Extra\n");
    dir.write("i3.desktop", "[Desktop Entry]\nName=i3\nExec=i3\n");
    dir.write("hidden.desktop", "[Desktop Entry]\nName=Hidden\nExec=a\nHidden=true\n");
    dir.write("nodisplay.desktop", "[Desktop Entry]\nName=NoDisplay\nExec=a\nNoDisplay=true\n");
    dir.write("missing.desktop", "[Desktop Entry]\nName=Missing\nExec=a\nTryExec=no-such-vesko\n");
    dir.write("broken.desktop", "[Desktop Entry]\nName=Broken\n");
    dir.write("writable.desktop", "[Desktop Entry]\nName=Writable\nExec=a\n", 0666);
    dir.write("notes.txt", "[Desktop Entry]\nName=Text\nExec=a\n");
    const std::vector<DesktopSession> sessions = list_sessions(dir.path);
    const std::vector<DesktopSession> expected{
        {"i3", "i3", "i3", ""},
        {"mate", "MATE", "mate-session", "MATE:X-Extra"},
        {"xfce", "Xfce Session", "startxfce4", "XFCE"},
    };
    EXPECT_EQ(sessions, expected);
    EXPECT_EQ(find_session(sessions, "xfce"), &sessions[2]);
    EXPECT_EQ(find_session(sessions, "gone"), nullptr);
    EXPECT_TRUE(list_sessions(dir.path + "/none").empty());
}

TEST(SessionList, TryExecIsAPathOrSearchedOnThePath) {
    EXPECT_TRUE(program_exists("sh", "/nonexistent::/bin"));
    EXPECT_TRUE(program_exists("/bin/sh", ""));
    EXPECT_FALSE(program_exists("sh", "/nonexistent"));
    EXPECT_FALSE(program_exists("bin/sh", "/"));
    EXPECT_FALSE(program_exists("/etc/passwd", ""));
    EXPECT_FALSE(program_exists("", "/bin"));
}

TEST(SessionChoice, HoldsOneSessionName) {
    const struct {
        std::string bytes;
        bool ok;
    } cases[] = {
        {"xfce\n", true},  {"xfce", true},
        {"", false},       {"\n", false},
        {"../x\n", false}, {".hidden", false},
        {"a=b", false},    {"a:b", false},
        {"x\ny\n", false}, {std::string(201, 'a'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_session_choice(c.bytes).ok(), c.ok) << c.bytes;
    }
    EXPECT_EQ(parse_session_choice("xfce\n").value(), "xfce");
    EXPECT_EQ(session_choice_path(1000), "/var/lib/vesko/sessions/1000");
}

}  // namespace
