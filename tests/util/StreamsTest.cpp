// The name rules of exported streams, and writing one.
#include <gtest/gtest.h>

#include "platform/AnsiCodec.h"
#include "tests/support/TempDir.h"
#include "util/Streams.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::ReadFile;
using norvex::test::TempDir;
using norvex::test::WriteFile;

TEST(UtilStreams, SeparatorPairFallsBackUnlessTwoCharacters) {
    EXPECT_EQ(StreamSeparatorPair(";#").s0, ";");
    EXPECT_EQ(StreamSeparatorPair(";#").s1, "#");
    for (const AnsiString& bad : {AnsiString(), AnsiString(";"), AnsiString(";#!"), "ソ"_ansi}) {
        const TStreamSeparator pair = StreamSeparatorPair(bad);
        EXPECT_EQ(pair.s0, ":");
        EXPECT_EQ(pair.s1, "\x05");
    }
    // Two double-byte characters are two characters.
    EXPECT_EQ(StreamSeparatorPair("表ソ"_ansi).s0, "表"_ansi);
    EXPECT_EQ(StreamSeparatorPair("表ソ"_ansi).s1, "ソ"_ansi);
}

TEST(UtilStreams, ExportAndImportAreInverse) {
    const AnsiString mark(1, '\x05');
    EXPECT_EQ(StreamExportName("a.txt", ":name:$DATA", ";#"), "a.txt;name;$DATA");
    EXPECT_EQ(StreamExportName("a.txt", ":" + mark + "Summary:$DATA", ";#"), "a.txt;#Summary;$DATA");
    EXPECT_EQ(StreamImportName("a.txt;name;$DATA", ";#"), "a.txt:name:$DATA");
    EXPECT_EQ(StreamImportName("a.txt;#Summary;$DATA", ";#"), "a.txt:" + mark + "Summary:$DATA");
    // Whole characters: a separator made of double-byte characters, next to names with a trail 0x5C.
    const AnsiString sep = "表ソ"_ansi;
    const AnsiString exported = StreamExportName("ソ.txt"_ansi, ":" + mark + "x:y", sep);
    EXPECT_EQ(exported, "ソ.txt表ソx表y"_ansi);
    EXPECT_EQ(StreamImportName(exported, sep), "ソ.txt:"_ansi + mark + "x:y");
    // The fallback pair leaves names as they are.
    EXPECT_EQ(StreamExportName("a", ":s:$DATA", "bad!"), "a:s:$DATA");
}

TEST(UtilStreams, ExportWritesANewFileWithTheStreamTimesAndNeverOverwrites) {
    TempDir dir;
    const AnsiString file = ToAnsi(dir / "f.txt");
    WriteFile(dir / "f.txt", "main");
    TNamedStream stream;
    stream.Name = ":info:$DATA";
    stream.Data = "stream content";
    stream.LastWriteTime = FileTimeFromUnix(1'000'000'000);
    stream.LastAccessTime = stream.LastWriteTime;
    AnsiString exported;
    ASSERT_TRUE(ExportStream(file, stream, ";#", exported));
    EXPECT_EQ(exported, file + ";info;$DATA");
    EXPECT_EQ(ReadFile(dir / "f.txt;info;$DATA"), "stream content");
    FILETIME w = 0;
    ASSERT_TRUE(GetFileTimes(exported, nullptr, nullptr, &w));
    EXPECT_EQ(w, stream.LastWriteTime);

    stream.Data = "other";
    EXPECT_FALSE(ExportStream(file, stream, ";#", exported));
    EXPECT_EQ(ReadFile(dir / "f.txt;info;$DATA"), "stream content");

    EXPECT_THROW(ExportStream(ToAnsi(dir / "missing/f"), stream, ";#", exported), EStreamExport);
}
