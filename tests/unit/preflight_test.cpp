#include <gtest/gtest.h>

#include "pack/preflight.h"

namespace {

PreflightInput members_of(std::vector<PreflightMember> members) {
    PreflightInput in;
    in.members = std::move(members);
    return in;
}

// One case per kind: each input yields exactly that finding, naming the
// member it is about.
TEST(Preflight, EachKindOfFindingNamesItsMember) {
    struct Case {
        const char* what;
        PreflightInput input;
        FindingKind kind;
        std::string member;
    };
    PreflightInput empty_folder;
    empty_folder.empty_folders = {"DATA\\EMPTY"};
    PreflightInput inside;
    inside.archive_inside = {"OUT\\W_SETUP.WPK"};
    const Case cases[] = {
        {".DL_ in the middle", members_of({{"LIB", "util.Dl_x"}}), FindingKind::LEFT_OUT_ON_NT,
         "LIB\\util.Dl_x"},
        {"case only", members_of({{"Data", "A.TXT"}, {"DATA", "a.txt"}}),
         FindingKind::CASE_COLLISION, "DATA\\a.txt"},
        {"question mark", members_of({{"", "WHY?.TXT"}}), FindingKind::FORBIDDEN_CHARACTER,
         "WHY?.TXT"},
        {"colon in a folder", members_of({{"AB:C", "X"}}), FindingKind::FORBIDDEN_CHARACTER,
         "AB:C\\X"},
        {"backslash in a name", members_of({{"", "A\\B"}}), FindingKind::FORBIDDEN_CHARACTER,
         "A\\B"},
        {"control byte", members_of({{"", "TAB\tX"}}), FindingKind::FORBIDDEN_CHARACTER,
         "TAB\\x09X"},
        {"UTF-8 name", members_of({{"", "caf\xC3\xA9.TXT"}}), FindingKind::NOT_PRINTABLE_ASCII,
         "caf\xC3\xA9.TXT"},
        {"archive name at the root", members_of({{"", "w_setup.wpk"}}),
         FindingKind::OVERWRITES_ARCHIVE, "w_setup.wpk"},
        {"empty folder", empty_folder, FindingKind::EMPTY_FOLDER, "DATA\\EMPTY"},
        {"archive in the tree", inside, FindingKind::ARCHIVE_INSIDE_TREE, "OUT\\W_SETUP.WPK"},
        {"device name", members_of({{"DATA", "com7.log"}}), FindingKind::RESERVED_NAME,
         "DATA\\com7.log"},
        {"device folder", members_of({{"Aux", "A"}}), FindingKind::RESERVED_NAME, "Aux\\A"},
        {"trailing dot", members_of({{"", "README."}}), FindingKind::TRAILING_DOT_SPACE, "README."},
        {"trailing space", members_of({{"DIR ", "A"}}), FindingKind::TRAILING_DOT_SPACE, "DIR \\A"},
        {"climbs out", members_of({{"A\\..\\..", "X"}}), FindingKind::UNSAFE_PATH, "A\\..\\..\\X"},
        {"rooted", members_of({{"\\TMP", "X"}}), FindingKind::UNSAFE_PATH, "\\TMP\\X"},
        {"drive", members_of({{"C:", "X"}}), FindingKind::UNSAFE_PATH, "C:\\X"},
        {"no name", members_of({{"DIR", ""}}), FindingKind::UNSAFE_PATH, "DIR\\"},
    };
    for (const Case& c : cases) {
        const std::vector<Finding> found = preflight(c.input);
        ASSERT_EQ(found.size(), 1u) << c.what;
        EXPECT_EQ(found[0].kind, c.kind) << c.what;
        EXPECT_EQ(found[0].member, c.member) << c.what;
        EXPECT_EQ(finding_line(found[0]).rfind(c.member, 0), 0u) << c.what;
    }
}

// Each limit at its value and one past it: the installer's 3000 members, and
// 255 characters of folder, backslash and name (at the root, of the name).
TEST(Preflight, LimitsAtTheirValueAndOnePast) {
    std::vector<PreflightMember> many;
    for (int i = 0; i < 3001; ++i) many.push_back({"", std::to_string(i) + ".TXT"});
    const std::string f200(200, 'f'), n54(54, 'n'), n55(55, 'n'), r255(255, 'r'), r256(256, 'r');
    const std::string over =
        ": folder and name are 256 characters: the installer skips members over 255";
    const std::pair<PreflightInput, std::vector<std::string>> cases[] = {
        {members_of({many.begin(), many.end() - 1}), {}},
        {members_of(many), {"3001 members: the installer refuses an archive of more than 3000"}},
        {members_of({{f200, n54}}), {}},
        {members_of({{f200, n55}}), {f200 + "\\" + n55 + over}},
        {members_of({{"", r255}}), {}},
        {members_of({{"", r256}}), {r256 + over}},
    };
    for (const auto& [input, want] : cases) {
        std::vector<std::string> lines;
        for (const Finding& f : preflight(input)) lines.push_back(finding_line(f));
        EXPECT_EQ(lines, want) << input.members.size() << " members, the first "
                               << input.members[0].folder.size() << "+"
                               << input.members[0].name.size();
    }
    EXPECT_TRUE(installer_writes(f200, n54) && installer_writes("", r255));
    EXPECT_FALSE(installer_writes(f200, n55));
}

TEST(Preflight, OrdinaryMembersHaveNoFindings) {
    const PreflightInput in = members_of({{"", "W_SETUP.EXE"},
                                          {"DATA\\SUB", "UTIL.DLL"},
                                          {"DATA", "W_SETUP.WPK"},
                                          {"", "UTIL.DL"},
                                          {"", "CONSOLE.TXT"},
                                          {"COM10", "LPT.TXT"},
                                          {"", "a b-c_(1)[2]{3}~!@#$%^&'+,;=.txt"}});
    EXPECT_TRUE(preflight(in).empty());
}

} // namespace
