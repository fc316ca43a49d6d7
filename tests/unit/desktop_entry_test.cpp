#include "desktop_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DesktopEntry, ReadsTheEntriesOfDebiansDesktops) {
    const struct {
        const char* text;
        const char* name;
        const char* exec;
        const char* try_exec;
        std::vector<std::string> desktops;
    } cases[] = {
        {"[Desktop Entry]\nVersion=1.0\nName=Xfce Session\nComment=Use this session to run Xfce "
         "as your desktop environment\nExec=startxfce4\nIcon=\nType=Application\n"
         "DesktopNames=XFCE\nKeywords=xfce;wm;windowmanager;window;manager;\n",
         "Xfce Session",
         "startxfce4",
         "",
         {"XFCE"}},
        {"[Desktop Entry]\nName=MATE\nComment=This session logs you into MATE\n"
         "Exec=mate-session\nTryExec=mate-session\nIcon=\nType=Application\nDesktopNames=MATE\n",
         "MATE",
         "mate-session",
         "mate-session",
         {"MATE"}},
        {"[Desktop Entry]\nName=Cinnamon\nComment=This session logs you into Cinnamon\n"
         "Exec=cinnamon-session-cinnamon\nTryExec=cinnamon-session-cinnamon\nIcon=\n"
         "Type=Application\nDesktopNames=X-Cinnamon\n",
         "Cinnamon",
         "cinnamon-session-cinnamon",
         "cinnamon-session-cinnamon",
         {"X-Cinnamon"}},
        {"[Desktop Entry]\nType=XSession\nExec=startlxqt\nTryExec=lxqt-session\n"
         "Name[de]=LXQt-Arbeitsumgebung\nName=LXQt Desktop\nComment=Lightweight Qt Desktop\n"
         "DesktopNames=LXQt\n",
         "LXQt Desktop",
         "startlxqt",
         "lxqt-session",
         {"LXQt"}},
        {"[Desktop Entry]\nName=i3\nComment=improved dynamic tiling window manager\nExec=i3\n"
         "TryExec=i3\nType=Application\nX-LightDM-DesktopName=i3\nDesktopNames=i3\n",
         "i3",
         "i3",
         "i3",
         {"i3"}},
        {"[Desktop Entry]\nName=Openbox\nComment=Log in using the Openbox window manager\n"
         "Exec=/usr/bin/openbox-session\nTryExec=/usr/bin/openbox-session\nIcon=openbox\n"
         "Type=Application\n",
         "Openbox",
         "/usr/bin/openbox-session",
         "/usr/bin/openbox-session",
         {}},
        {"# comment\n\n[Desktop Entry]\r\nName = GNOME on Xorg \r\nExec=env "
         "GNOME_SHELL_SESSION_MODE=x "
         "gnome-session\nDesktopNames=GNOME;GNOME-Flashback;\n[Desktop Action New]\nName=No\n",
         "GNOME on Xorg",
         "env GNOME_SHELL_SESSION_MODE=x gnome-session",
         "",
         {"GNOME", "GNOME-Flashback"}},
    };
    for (const auto& c : cases) {
        const Result<DesktopEntry> entry = parse_desktop_entry(c.text);
        ASSERT_TRUE(entry.ok()) << c.text << entry.error();
        EXPECT_EQ(entry.value().name, c.name);
        EXPECT_EQ(entry.value().exec, c.exec);
        EXPECT_EQ(entry.value().try_exec, c.try_exec);
        EXPECT_EQ(entry.value().desktop_names, c.desktops);
        EXPECT_FALSE(entry.value().hidden || entry.value().no_display);
    }
}

TEST(DesktopEntry, RemovesFieldCodesAndKeepsPercent) {
    const struct {
        const char* exec;
        bool ok;
        const char* expected;
    } cases[] = {
        {"run %f %F %u %U %d %D %n %N %i %c %k %v %m", true, "run"},
        {"run --rate=50%% %U", true, "run --rate=50%"},
        {"%%U", true, "%U"},
        {"run %x", false, "Exec holds the unknown field code %x"},
        {"run %", false, "Exec ends in a lone %"},
    };
    for (const auto& c : cases) {
        const Result<std::string> stripped = strip_field_codes(c.exec);
        ASSERT_EQ(stripped.ok(), c.ok) << c.exec;
        EXPECT_EQ(stripped.ok() ? stripped.value() : stripped.error(), c.expected);
    }
    EXPECT_EQ(unescape_desktop_value(R"(a\sb\\c\;d\)"), R"(a b\c\;d\)");
}

TEST(DesktopEntry, HiddenAndNoDisplayAreRead) {
    const Result<DesktopEntry> hidden =
        parse_desktop_entry("[Desktop Entry]\nName=A\nExec=a\nHidden=true\n");
    ASSERT_TRUE(hidden.ok());
    EXPECT_TRUE(hidden.value().hidden);
    const Result<DesktopEntry> no_display =
        parse_desktop_entry("[Desktop Entry]\nName=A\nExec=a\nNoDisplay=true\nHidden=false\n");
    ASSERT_TRUE(no_display.ok());
    EXPECT_TRUE(no_display.value().no_display);
    EXPECT_FALSE(no_display.value().hidden);
}

TEST(DesktopEntry, RefusesWhatIsNoUsableEntry) {
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {std::string(MAX_DESKTOP_ENTRY_BYTES + 1, '#'), "it is larger than 65536 bytes"},
        {std::string("[Desktop Entry]\nName=A\nExec=a\0b", 31), "it is binary"},
        {"[Desktop Entry]\nName=\xff\nExec=a\n", "it is not valid UTF-8"},
        {"[Desktop Entry]\nName=A\n", "it has no Exec"},
        {"[Desktop Entry]\nExec=a\n", "it has no Name"},
        {"[Other]\nName=A\nExec=a\n", "it has no Name"},
        {"Name=A\nExec=a\n", "it has no Name"},
        {"[Desktop Entry]\nName=A\nExec=%U\n", "its Exec is empty"},
        {"[Desktop Entry]\nName=A\nExec=a\\nrm -rf ~\n", "its Exec holds a control character"},
        {"[Desktop Entry]\nName=" + std::string(129, 'n') + "\nExec=a\n",
         "its Name is longer than 128 bytes"},
        {"[Desktop Entry]\nName=A\\tB\nExec=a\n", "its Name holds a control character"},
        {"[Desktop Entry]\nName=A\nExec=a\nDesktopNames=A:B\n",
         "its DesktopNames hold a control character or ':'"},
    };
    for (const auto& c : cases) {
        const Result<DesktopEntry> entry = parse_desktop_entry(c.text);
        ASSERT_FALSE(entry.ok()) << c.text;
        EXPECT_EQ(entry.error(), c.error);
    }
}

}  // namespace
