#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>
#include <filesystem>

#include "install/work_folder.h"
#include "platform_stand_in.h"
#include "shell/program_main.h"
#include "shell/serial_ports.h"
#include "shell/shell_texts.h"
#include "shell/splash_window.h"
#include "test_support.h"

namespace {

std::string from_cp949(const char* bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP949");
    std::string in(bytes), out(in.size() * 3 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t left = in.size(), room = out.size();
    const size_t done = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (done == size_t(-1)) return "<not CP949>";
    out.resize(out.size() - room);
    return out;
}

TEST(ShellTexts, KoreanTextsAreTheseCp949Bytes) {
    const std::pair<const char*, const char*> texts[] = {
        {PORT_TEXTS[1].question_text,
         "통신포트 상태를 바꾸었으므로, 윈도우를 재시동 해야합니다.!!\n\n지금 재시동 할까요 ?"},
        {PORT_TEXTS[1].question_caption, "Wendle 설치자 : 윈도우의 재시동"},
        {PORT_TEXTS[1].notice_text, "Wendle의 설치 후, 반드시 윈도우를 재시동하고 사용해야 "
                                    "합니다 !\n\n그렇지 않으면 통신이 안될 수 있습니다 !!"},
        {PORT_TEXTS[1].notice_caption, "Wendle 설치자"},
        {FAILURE_TEXTS[1].text, "설치를 계속할 수 없습니다."},
        {FAILURE_TEXTS[1].caption, "치명적 오류 (Disk를 검사해 주세요)"},
        {BANNER_TEXTS[1].notes[0], "설치를 준비중입니다."},
        {BANNER_TEXTS[1].notes[1], "잠시만 기다리세요."}};
    for (const auto& [bytes, text] : texts) EXPECT_EQ(from_cp949(bytes), text);
}

TEST(SerialPorts, WritesOnlyMissingOrEmptyEntries) {
    struct Case {
        std::vector<const char*> ports; // COM1: to COM4:, null for a missing entry
        std::vector<std::string> writes;
    };
    const char* const GOOD = "9600,n,8,1";
    const Case cases[] = {
        {{GOOD, GOOD, "19200,e,7,2", "x"}, {}},
        {{GOOD, GOOD, nullptr, GOOD}, {"ports/COM3:=9600,n,8,1"}},
        {{"", "1", "1", "1"}, {"ports/COM1:=9600,n,8,1"}},
        {{nullptr, nullptr, nullptr, nullptr},
         {"ports/COM1:=9600,n,8,1", "ports/COM2:=9600,n,8,1", "ports/COM3:=9600,n,8,1",
          "ports/COM4:=9600,n,8,1"}},
    };
    for (const Case& c : cases) {
        FakeMachine machine;
        for (size_t i = 0; i < c.ports.size(); ++i)
            if (c.ports[i]) g_posix.profile["ports/COM" + std::to_string(i + 1) + ":"] = c.ports[i];
        EXPECT_EQ(check_serial_ports(), !c.writes.empty());
        EXPECT_EQ(g_posix.profile_writes, c.writes);
    }
}

// The whole program on the host stand-in: a medium in C:\MEDIA, the
// temporary folder C:\TEMP.
class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_.make_folder("MEDIA");
        machine_.make_folder("TEMP");
        g_posix.own_path = "C:\\MEDIA\\WBOOT.EXE";
        g_posix.temp_path = "C:\\TEMP\\";
        for (int port = 1; port <= 4; ++port)
            g_posix.profile["ports/COM" + std::to_string(port) + ":"] = "9600,n,8,1";
        g_install_ready = 0;
        g_work_path[0] = '\0';
        PackMember m;
        m.name = "W_SETUP.EXE";
        m.data = bytes_of("setup");
        std::string error;
        write_file(machine_.host("MEDIA/W_SETUP.WPK"), build_archive({m}, &error));
    }
    void TearDown() override { g_ui_language = UI_ENGLISH; }

    // The setup program's close request, as it would arrive after the start.
    void close_when_started() {
        g_posix.on_start = [](const std::string&) {
            window_post_message(POSIX_WINDOW, WM_CLOSE_MESSAGE);
        };
    }
    FakeMachine machine_;
};

TEST_F(Program, GoodMediumRunsToTheEnd) {
    close_when_started();
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_EQ(g_posix.class_name, "FIRST_INSTALL");
    EXPECT_EQ(g_posix.icon_name, "INSTALL_ICON");
    ASSERT_EQ(g_posix.started.size(), 1u);
    EXPECT_EQ(g_posix.started[0].rfind("C:\\TEMP\\W80_INST\\W_SETUP.EXE ", 0), 0u);
    EXPECT_NE(g_posix.started[0].find(" 4660 C:\\MEDIA\\WBOOT.EXE"), std::string::npos);
    EXPECT_EQ(g_posix.hidden.size(), 1u);
    EXPECT_EQ(g_posix.window_events,
              (std::vector<std::string>{"create 640x480", "show", "update", "destroy", "quit 0"}));
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST"))); // cleaned after the close request
    EXPECT_EQ(g_posix.drawing.front(), "begin");               // painted before the unpack
}

TEST_F(Program, SecondCloseRequestDuringTheCleanupDoesNothing) {
    // The setup program sends two close requests; the second is still queued
    // when the cleanup, waiting for a file in use, hands the queue on.
    g_posix.on_start = [](const std::string&) {
        window_post_message(POSIX_WINDOW, WM_CLOSE_MESSAGE);
        window_post_message(POSIX_WINDOW, WM_CLOSE_MESSAGE);
        g_posix.delete_attempts.clear(); // the unpack's own deletion of its copy
    };
    g_posix.held_file = "W_SETUP.EXE";
    g_posix.held_attempts = 1;
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.window_events,
              (std::vector<std::string>{"create 640x480", "show", "update", "destroy", "quit 0"}));
    EXPECT_EQ(g_posix.delete_attempts, (std::vector<std::string>{"W_SETUP.EXE", "W_SETUP.EXE"}));
    EXPECT_EQ(g_posix.pauses.size(), 1u);
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST")));
}

TEST_F(Program, StartedFromTheWorkFolderKeepsTheMedium) {
    // The medium is the work subfolder: its archive is the only copy.
    machine_.make_folder("TEMP/W80_INST");
    const Bytes archive = read_file(machine_.host("MEDIA/W_SETUP.WPK"));
    write_file(machine_.host("TEMP/W80_INST/W_SETUP.WPK"), archive);
    write_file(machine_.host("TEMP/W80_INST/WBOOT.EXE"), bytes_of("the program"));
    g_posix.own_path = g_posix.module_path = "C:\\TEMP\\W80_INST\\WBOOT.EXE";
    close_when_started();
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.started.size(), 1u);
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST/W_SETUP.EXE"))); // unpacked, cleaned
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/W_SETUP.WPK")), archive);
    EXPECT_EQ(read_file(machine_.host("TEMP/W80_INST/WBOOT.EXE")), bytes_of("the program"));
    EXPECT_TRUE(g_posix.pauses.empty()); // neither was tried
}

TEST_F(Program, FailedUnpackShowsTheOwnedFailureBoxAndKeepsTheFiles) {
    std::filesystem::remove(machine_.host("MEDIA/W_SETUP.WPK"));
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.boxes,
              (std::vector<RecordedBox>{{NO_OWNER, "W_SETUP.WPK", "Copy error", BOX_OK},
                                        {POSIX_WINDOW, "Can't continue Installation.",
                                         "Fatal error (Please check Disk)", BOX_OK}}));
    EXPECT_TRUE(g_posix.started.empty());
    EXPECT_TRUE(file_exists(machine_.host("TEMP/W80_INST"))); // not cleaned
    EXPECT_EQ(g_posix.window_events.back(), "quit 0");
}

TEST_F(Program, FailedStartShowsTheFailureBoxAndCleans) {
    g_posix.start_result = 2; // file not found
    g_ui_language = UI_KOREAN;
    g_posix.oem_code_page = 949;
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.boxes, (std::vector<RecordedBox>{{POSIX_WINDOW, FAILURE_TEXTS[1].text,
                                                        FAILURE_TEXTS[1].caption, BOX_OK}}));
    EXPECT_TRUE(g_posix.hidden.empty());
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST"))); // the unpack had succeeded
}

TEST_F(Program, MissingPortAskedOnceNoThenNoticeThenInstall) {
    g_posix.profile.erase("ports/COM3:");
    g_posix.box_answers = {ANSWER_NO};
    close_when_started();
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.profile_writes, std::vector<std::string>{"ports/COM3:=9600,n,8,1"});
    EXPECT_EQ(g_posix.boxes,
              (std::vector<RecordedBox>{{NO_OWNER, PORT_TEXTS[0].question_text,
                                         "Notice from Wendle : restarting window",
                                         BOX_YES_NO | BOX_ICON_QUESTION},
                                        {NO_OWNER, PORT_TEXTS[0].notice_text, "Notice from Wendle",
                                         BOX_OK | BOX_ICON_INFORMATION}}));
    EXPECT_EQ(g_posix.started.size(), 1u);
}

TEST_F(Program, RefusedPortWritesAskNothing) {
    // A standard user on NT may not change the machine's ports section: with
    // nothing written there is nothing to log off for.
    g_posix.profile.erase("ports/COM3:");
    g_posix.profile_read_only = true;
    close_when_started();
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_EQ(g_posix.started.size(), 1u);
}

TEST_F(Program, AStartPostedAgainDoesNothing) {
    // Any process may post the start message; the second delivery comes
    // after the setup program was started.
    g_posix.on_start = [](const std::string&) {
        window_post_message(POSIX_WINDOW, MSG_START_INSTALL);
        window_post_message(POSIX_WINDOW, WM_CLOSE_MESSAGE);
    };
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.started.size(), 1u);
    EXPECT_TRUE(g_posix.boxes.empty());
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST")));
}

TEST_F(Program, YesLogsOffAndTouchesNothing) {
    g_posix.profile.clear();
    g_posix.box_answers = {ANSWER_YES};
    g_posix.oem_code_page = 949;
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_EQ(g_posix.session_ends,
              (std::vector<std::pair<uint32_t, uint32_t>>{{0u, 0xFFFFFFFFu}})); // log-off
    EXPECT_EQ(g_posix.boxes, (std::vector<RecordedBox>{{NO_OWNER, PORT_TEXTS[1].question_text,
                                                        PORT_TEXTS[1].question_caption,
                                                        BOX_YES_NO | BOX_ICON_QUESTION}}));
    EXPECT_TRUE(g_posix.window_events.empty());
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST")));
}

TEST_F(Program, StartUpFailuresEndAtOnce) {
    g_posix.register_fails = true;
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_TRUE(g_posix.window_events.empty());
    g_posix.register_fails = false;
    g_posix.create_fails = true;
    EXPECT_EQ(program_main(nullptr, nullptr, "", 0), 0);
    EXPECT_TRUE(g_posix.started.empty());
    EXPECT_FALSE(file_exists(machine_.host("TEMP/W80_INST")));
}

TEST_F(Program, OtherMessagesGoToTheDefaultProcedure) {
    for (uint32_t message :
         {20u /* erase background */, 17u /* end session query */, 22u, 0x400u}) {
        g_posix.window_events.clear();
        EXPECT_EQ(splash_window_proc(POSIX_WINDOW, message, 0, 0), 0);
        EXPECT_EQ(g_posix.window_events,
                  std::vector<std::string>{"default " + std::to_string(message)});
    }
}

TEST_F(Program, CreationPostsTheStartExactlyOnce) {
    EXPECT_EQ(splash_window_proc(POSIX_WINDOW, WM_CREATE_MESSAGE, 0, 0), 0);
    EXPECT_EQ(g_posix.messages.size(), 1u);
    EXPECT_TRUE(g_posix.started.empty()); // nothing runs until the loop delivers it
}

} // namespace
