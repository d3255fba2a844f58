// The shell entries on real files in a temporary home: what each registration creates, detects and
// removes, that an unchanged state writes nothing, and that the desktop's own tools accept the files.
#include "platform/ShellRegistration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/AnsiCodec.h"
#include "platform/StandardFolders.h"
#include "tests/shell/ScopedHome.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

bool Exists(const std::string& p) { return fs::exists(fs::symlink_status(p)); }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
bool Executable(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

class ShellRegistrationTest : public ::testing::Test {
protected:
    test::ScopedHome home;
    std::string mimeapps() const { return home.config("mimeapps.list"); }
    std::string plus() const { return home.data("applications/NorvexPlus.desktop"); }
    // The user has these file managers (their folders exist).
    void WithFileManagers() {
        fs::create_directories(home.data("kio"));
        fs::create_directories(home.data("nemo"));
        fs::create_directories(home.data("nautilus"));
        fs::create_directories(home.config("Thunar"));
    }
};

TEST_F(ShellRegistrationTest, SendToEntryIsCreatedOnceDetectedAndRemoved) {
    EXPECT_FALSE(SendToLinkExists());
    EXPECT_EQ(RemoveSendToLink(), TShellChange::Unchanged);

    EXPECT_EQ(CreateSendToLink(), TShellChange::Done);
    EXPECT_TRUE(SendToLinkExists());
    const std::string path = FromAnsi(SendToLinkPath());
    EXPECT_EQ(path, home.data("applications/NorvexSendTo.desktop"));
    const std::string entry = ReadFile(path);
    EXPECT_TRUE(Contains(entry, "\nName[ja]=Norvex で解凍（後始末は設定どおり）\n"));
    EXPECT_TRUE(Contains(entry, "\nExec=" + FromAnsi(ProgramPath()) + " %F\n"));
    EXPECT_TRUE(Contains(entry,
                         "\nMimeType=application/zip;application/vnd.rar;application/vnd.ms-cab-compressed;"
                         "application/x-lha;\n"));

    // A second creation leaves the file alone.
    EXPECT_EQ(CreateSendToLink(), TShellChange::Unchanged);
    EXPECT_EQ(RemoveSendToLink(), TShellChange::Done);
    EXPECT_FALSE(SendToLinkExists());
    EXPECT_EQ(RemoveSendToLink(), TShellChange::Unchanged);
}

TEST_F(ShellRegistrationTest, ExistingSendToFileIsLeftAsItIs) {
    const std::string path = home.data("applications/NorvexSendTo.desktop");
    WriteFile(path, "the user's own file\n");
    EXPECT_TRUE(SendToLinkExists());
    EXPECT_EQ(CreateSendToLink(), TShellChange::Unchanged);
    EXPECT_EQ(ReadFile(path), "the user's own file\n");
}

TEST_F(ShellRegistrationTest, ProgramMenuEntryIsReplacedAndRemoved) {
    const std::string path = home.data("applications/NorvexMenu.desktop");
    EXPECT_EQ(FromAnsi(ProgramMenuLinkPath()), path);
    WriteFile(path, "old\n");
    EXPECT_TRUE(ProgramMenuLinkExists());
    EXPECT_TRUE(CreateProgramMenuLink());
    const std::string entry = ReadFile(path);
    EXPECT_TRUE(Contains(entry, "\nExec=" + FromAnsi(ProgramPath()) + "\n"));
    EXPECT_TRUE(Contains(entry, "\nPath=" + FromAnsi(ProgramFolder()) + "\n"));
    EXPECT_FALSE(Contains(entry, "NoDisplay"));  // it is the menu entry
    EXPECT_TRUE(RemoveProgramMenuLink());
    EXPECT_FALSE(ProgramMenuLinkExists());
    EXPECT_TRUE(RemoveProgramMenuLink());  // already gone is no error
}

// The installed entry (system-wide or in the user's own prefix) keeps its id, its actions and its
// types: the menu entry never shadows it, and the copy earlier versions wrote under its id goes.
TEST_F(ShellRegistrationTest, ProgramMenuEntryNeverShadowsTheInstalledEntry) {
    const std::string installed = "[Desktop Entry]\nName=Norvex\nComment=Extract\nActions=NorvexDelete;\n";
    const std::string legacy = home.data("applications/norvex.desktop");
    const std::string ours = FromAnsi(ProgramMenuLinkPath());
    WriteFile(legacy, "[Desktop Entry]\nName=Norvex\nComment=書庫をまとめて解凍します\nExec=/old/norvex\n");
    EXPECT_FALSE(InstalledMenuEntryExists());  // the legacy copy is not an installed entry

    // No installed entry: ours is written under its own id and the legacy copy goes.
    EXPECT_TRUE(CreateProgramMenuLink());
    EXPECT_TRUE(fs::exists(ours));
    EXPECT_FALSE(fs::exists(legacy));

    // Installed system-wide: nothing of ours stays, and the menu still counts as having Norvex.
    WriteFile(home.system("applications/norvex.desktop"), installed);
    WriteFile(legacy, "[Desktop Entry]\nName=Norvex\nComment=書庫をまとめて解凍します\nExec=/old/norvex\n");
    EXPECT_TRUE(CreateProgramMenuLink());
    EXPECT_FALSE(fs::exists(ours));
    EXPECT_FALSE(fs::exists(legacy));
    EXPECT_TRUE(ProgramMenuLinkExists());
    fs::remove(home.system("applications/norvex.desktop"));

    // Installed in the user's prefix under the same id: it is left alone.
    WriteFile(legacy, installed);
    EXPECT_TRUE(InstalledMenuEntryExists());
    EXPECT_TRUE(CreateProgramMenuLink());
    EXPECT_TRUE(RemoveProgramMenuLink());
    EXPECT_EQ(ReadFile(legacy), installed);
    EXPECT_FALSE(fs::exists(ours));
}

TEST_F(ShellRegistrationTest, RegisteringTakesTheTypeOverAndRemovalRestoresTheFormerDefault) {
    const std::string original =
        "# the user's associations\n"
        "[Added Associations]\n"
        "application/zip=other.desktop;\n"
        "\n"
        "[Default Applications]\n"
        "text/plain=editor.desktop;\n"
        "application/zip=other.desktop;fallback.desktop;\n";
    WriteFile(mimeapps(), original);
    EXPECT_FALSE(VerbsRegistered("zip"));

    ASSERT_TRUE(RegisterVerbs(".ZIP"));
    EXPECT_TRUE(VerbsRegistered("zip"));
    const std::string taken = ReadFile(mimeapps());
    EXPECT_TRUE(Contains(taken, "[Default Applications]\ntext/plain=editor.desktop;\napplication/zip=NorvexPlus.desktop;\n"));
    EXPECT_TRUE(Contains(taken, "[Added Associations]\napplication/zip=other.desktop;\n"));
    EXPECT_EQ(RegisteredVerbTypes(), std::vector<std::string>{"application/zip"});

    const std::string entry = ReadFile(plus());
    const std::string program = FromAnsi(ProgramPath());
    EXPECT_TRUE(Contains(entry, "\nActions=NorvexDelete;NorvexTrash;NorvexOnly;\n"));
    // Under "Open With" it is not one more "Norvex": its name says that it keeps the archive.
    EXPECT_TRUE(Contains(entry, "\nName[ja]=Norvex で解凍（書庫はそのまま）\n"));
    EXPECT_TRUE(Contains(entry, "[Desktop Action NorvexDelete]\nName=解凍 + 削除\nIcon=norvex\nExec=" + program + " -d %F\n"));
    EXPECT_TRUE(Contains(entry, "[Desktop Action NorvexTrash]\nName=解凍 + ごみ箱\nIcon=norvex\nExec=" + program + " -t %F\n"));
    EXPECT_TRUE(Contains(entry, "[Desktop Action NorvexOnly]\nName=解凍 + そのまま\nIcon=norvex\nExec=" + program + " -k %F\n"));

    ASSERT_TRUE(RemoveVerbs("zip"));
    EXPECT_FALSE(VerbsRegistered("zip"));
    EXPECT_EQ(ReadFile(mimeapps()), original);
    EXPECT_FALSE(Exists(plus()));  // nothing refers to it any more
    EXPECT_FALSE(Exists(FromAnsi(FormerDefaultsPath())));
}

TEST_F(ShellRegistrationTest, TypeWithoutAUserDefaultGetsNoneBackOnRemoval) {
    ASSERT_TRUE(RegisterVerbs("rar"));
    ASSERT_TRUE(RegisterVerbs("lzh"));
    EXPECT_TRUE(VerbsRegistered("rar"));
    EXPECT_TRUE(VerbsRegistered("lzh"));
    EXPECT_EQ(RegisteredVerbTypes(), (std::vector<std::string>{"application/vnd.rar", "application/x-lha"}));

    ASSERT_TRUE(RemoveVerbs("rar"));
    EXPECT_FALSE(VerbsRegistered("rar"));
    EXPECT_FALSE(Contains(ReadFile(mimeapps()), "application/vnd.rar"));
    EXPECT_EQ(RegisteredVerbTypes(), std::vector<std::string>{"application/x-lha"});
    EXPECT_TRUE(VerbsRegistered("lzh"));
}

TEST_F(ShellRegistrationTest, RegisteringATypeThatIsAlreadyOursWritesNothing) {
    // Ours by hand, with the verbs gone: still nothing is rewritten.
    WriteFile(mimeapps(), "[Default Applications]\napplication/zip=NorvexPlus.desktop;\n");
    WithFileManagers();
    const auto before = home.Snapshot();
    EXPECT_TRUE(VerbsRegistered("zip"));
    EXPECT_TRUE(RegisterVerbs("zip"));
    EXPECT_EQ(home.Snapshot(), before);

    // And after a real registration, a second one changes nothing either.
    ASSERT_TRUE(RegisterVerbs("cab"));
    const auto registered = home.Snapshot();
    EXPECT_TRUE(RegisterVerbs("cab"));
    EXPECT_EQ(home.Snapshot(), registered);
}

TEST_F(ShellRegistrationTest, RemovingATypeOwnedByAnotherApplicationChangesNothing) {
    WriteFile(mimeapps(), "[Default Applications]\napplication/vnd.rar=other.desktop;\n");
    WithFileManagers();
    ASSERT_TRUE(RegisterVerbs("zip"));
    const auto before = home.Snapshot();
    RemoveVerbs("rar");
    RemoveVerbs("cab");  // no entry at all
    EXPECT_EQ(home.Snapshot(), before);
    EXPECT_FALSE(RemoveVerbs("tar"));  // not an offered extension
    EXPECT_FALSE(RegisterVerbs("gca"));
    EXPECT_EQ(home.Snapshot(), before);
}

TEST_F(ShellRegistrationTest, RemovalWithoutARecordKeepsTheAssociation) {
    ASSERT_TRUE(RegisterVerbs("zip"));
    fs::remove(FromAnsi(FormerDefaultsPath()));
    ASSERT_TRUE(RemoveVerbs("zip"));
    // Only the verbs go: the type still opens with NorvexPlus, whose entry therefore stays.
    EXPECT_TRUE(VerbsRegistered("zip"));
    EXPECT_TRUE(RegisteredVerbTypes().empty());
    ASSERT_TRUE(Exists(plus()));
    EXPECT_FALSE(Contains(ReadFile(plus()), "MimeType="));
}

TEST_F(ShellRegistrationTest, StaleVerbsGoWhenAnotherApplicationTookTheTypeBack) {
    ASSERT_TRUE(RegisterVerbs("zip"));
    ASSERT_TRUE(RegisterVerbs("cab"));
    // The user picks another default for zip in the file manager.
    std::string list = ReadFile(mimeapps());
    list.replace(list.find("application/zip=NorvexPlus.desktop;"), 35, "application/zip=other.desktop;");
    WriteFile(mimeapps(), list);

    EXPECT_TRUE(RemoveVerbs("zip"));
    EXPECT_EQ(ReadFile(mimeapps()), list);
    EXPECT_EQ(RegisteredVerbTypes(), std::vector<std::string>{"application/vnd.ms-cab-compressed"});
}

TEST_F(ShellRegistrationTest, ContextMenusOfTheFileManagersFollowTheRegisteredTypes) {
    WithFileManagers();
    const std::string userActions =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<action>\n\t<name>Open Terminal Here</name>\n"
        "\t<unique-id>1234-1</unique-id>\n\t<command>xterm</command>\n</action>\n</actions>\n";
    WriteFile(home.config("Thunar/uca.xml"), userActions);

    ASSERT_TRUE(RegisterVerbs("lzh"));
    ASSERT_TRUE(RegisterVerbs("zip"));
    const std::string kde = home.data("kio/servicemenus/NorvexPlus.desktop");
    ASSERT_TRUE(Exists(kde));
    EXPECT_TRUE(Executable(kde));  // the file manager ignores service menus that are not
    EXPECT_TRUE(Contains(ReadFile(kde), "\nMimeType=application/zip;application/x-lha;\n"));
    const std::string nemo = ReadFile(home.data("nemo/actions/norvex-NorvexTrash.nemo_action"));
    EXPECT_TRUE(Contains(nemo, "Name=解凍 + ごみ箱\n"));
    EXPECT_TRUE(Contains(nemo, "Exec='" + FromAnsi(ProgramPath()) + "' -t %F\n"));
    EXPECT_TRUE(Contains(nemo, "Mimetypes=application/zip;application/x-lha;\n"));
    const std::string script = home.data("nautilus/scripts/Norvex/解凍 + 削除");
    EXPECT_TRUE(Executable(script));
    EXPECT_TRUE(Contains(ReadFile(script), "exec '" + FromAnsi(ProgramPath()) + "' -d \"$@\"\n"));
    const std::string uca = ReadFile(home.config("Thunar/uca.xml"));
    EXPECT_TRUE(Contains(uca, "Open Terminal Here"));
    EXPECT_TRUE(Contains(uca, "<unique-id>norvex-NorvexOnly</unique-id>"));
    EXPECT_TRUE(Contains(uca, "<patterns>*.zip;*.lzh;*.lha</patterns>"));
    EXPECT_EQ(ContextMenuFiles().size(), 1u + 3u + 3u + 1u);

    ASSERT_TRUE(RemoveVerbs("zip"));
    EXPECT_TRUE(Contains(ReadFile(kde), "\nMimeType=application/x-lha;\n"));
    ASSERT_TRUE(RemoveVerbs("lzh"));
    EXPECT_TRUE(ContextMenuFiles().empty());
    EXPECT_FALSE(Exists(home.data("nautilus/scripts/Norvex")));
    EXPECT_EQ(ReadFile(home.config("Thunar/uca.xml")), userActions);  // byte for byte as the user had it
}

TEST_F(ShellRegistrationTest, FileManagersTheUserDoesNotHaveGetNoFiles) {
    ASSERT_TRUE(RegisterVerbs("zip"));
    EXPECT_TRUE(ContextMenuFiles().empty());
    EXPECT_FALSE(Exists(home.config("Thunar")));
}

TEST_F(ShellRegistrationTest, NewThunarActionsStartFromTheSystemDefaults) {
    fs::create_directories(home.config("Thunar"));
    WriteFile(home.root() + "/etc/xdg/Thunar/uca.xml",
              "<?xml version=\"1.0\"?>\n<actions>\n<action>\n\t<name>System Action</name>\n</action>\n</actions>\n");
    ASSERT_TRUE(RegisterVerbs("cab"));
    const std::string uca = ReadFile(home.config("Thunar/uca.xml"));
    EXPECT_TRUE(Contains(uca, "System Action"));
    EXPECT_TRUE(Contains(uca, "<patterns>*.cab</patterns>"));
}

TEST_F(ShellRegistrationTest, UnreadableOrLinkedFilesAreNeverClobbered) {
    // A mimeapps.list that cannot be read as a file fails the operation and writes nothing else.
    fs::create_directories(mimeapps());
    const auto before = home.Snapshot();
    EXPECT_FALSE(RegisterVerbs("zip"));
    EXPECT_FALSE(RemoveVerbs("zip"));
    EXPECT_FALSE(VerbsRegistered("zip"));
    EXPECT_EQ(home.Snapshot(), before);
    fs::remove(mimeapps());

    // A mimeapps.list kept as a link (dotfile managers do that) stays a link to the updated file.
    const std::string target = home.root() + "/dotfiles/mimeapps.list";
    WriteFile(target, "[Default Applications]\n");
    fs::create_symlink(target, mimeapps());
    ASSERT_TRUE(RegisterVerbs("zip"));
    EXPECT_TRUE(fs::is_symlink(mimeapps()));
    EXPECT_TRUE(Contains(ReadFile(target), "application/zip=NorvexPlus.desktop;"));
}

TEST(DesktopExecLineTest, QuotesOnlyWhatTheFormatReserves) {
    struct Case {
        const char* program;
        const char* expected;
    } cases[] = {
        {"/usr/bin/norvex", "/usr/bin/norvex -d %F"},
        {"/opt/My Apps/norvex", "\"/opt/My Apps/norvex\" -d %F"},
        {"/opt/a\"b$c`d/norvex", "\"/opt/a\\\\\"b\\\\$c\\\\`d/norvex\" -d %F"},
        {"/opt/back\\slash/norvex", "\"/opt/back\\\\\\\\slash/norvex\" -d %F"},
        {"/opt/100%/norvex", "/opt/100%%/norvex -d %F"},
        {"/opt/日本語/norvex", "/opt/日本語/norvex -d %F"},
    };
    for (const auto& c : cases) EXPECT_EQ(DesktopExecLine(ToAnsi(c.program), "-d", "%F"), c.expected) << c.program;
}

TEST_F(ShellRegistrationTest, DesktopToolsAcceptTheEntries) {
    ASSERT_TRUE(RegisterVerbs("zip"));
    ASSERT_TRUE(RegisterVerbs("rar"));
    ASSERT_TRUE(RegisterVerbs("cab"));
    ASSERT_TRUE(RegisterVerbs("lzh"));
    ASSERT_EQ(CreateSendToLink(), TShellChange::Done);
    ASSERT_TRUE(CreateProgramMenuLink());

    if (!test::HaveTool("desktop-file-validate")) GTEST_SKIP() << "desktop-file-validate is not installed";
    for (const AnsiString& entry : {AssociationEntryPath(), SendToLinkPath(), ProgramMenuLinkPath()}) {
        auto r = test::RunTool({"desktop-file-validate", FromAnsi(entry)});
        EXPECT_EQ(r.exitCode, 0) << FromAnsi(entry) << ": " << r.output;
        EXPECT_EQ(r.output, "") << FromAnsi(entry);
    }

    if (!test::HaveTool("xdg-mime")) GTEST_SKIP() << "xdg-mime is not installed";
    for (const char* type : {"application/zip", "application/vnd.rar", "application/vnd.ms-cab-compressed",
                             "application/x-lha"}) {
        auto r = test::RunTool({"xdg-mime", "query", "default", type});
        EXPECT_EQ(r.output, "NorvexPlus.desktop\n") << type;
    }
    ASSERT_TRUE(RemoveVerbs("zip"));
    EXPECT_NE(test::RunTool({"xdg-mime", "query", "default", "application/zip"}).output, "NorvexPlus.desktop\n");
}

}  // namespace
}  // namespace norvex
