#include "app/headless_options.h"

#include "tests/qt_print.h"
#include "testsite/certificates.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(HeadlessArgs, Parses) {
    const struct {
        const char* Name;
        QStringList Arguments;
        QStringList Cities = {};
        bool All = false, Fresh = false, Resume = false, Help = false;
        bool Error = false;
        QString Dir = {};
        bool Version = false;
        int Threads = 2;
        bool KeepAlive = false;
        bool VerifyPeer = false;
    } cases[] = {
        {"Bare", {"--headless"}, {}, false, false, false, false, false},
        {"Cities",
         {"--city", "Россия, Томск", "--headless", "--city=Россия, Курск"},
         {"Россия, Томск", "Россия, Курск"},
         false,
         false,
         false,
         false,
         false},
        {"CityLabelLooksLikeAnOption",
         {"--headless", "--city", "--all"},
         {"--all"},
         false,
         false,
         false,
         false,
         false},
        {"AllFresh", {"--headless", "--all", "--fresh"}, {}, true, true, false, false, false},
        {"Resume", {"--resume", "--headless"}, {}, false, false, true, false, false},
        {"Help", {"--headless", "--help"}, {}, false, false, false, true, false},
        {"CityWithoutLabel", {"--headless", "--city"}, {}, false, false, false, false, true},
        {"Dir",
         {"--headless", "--dir", "/data/q", "--all"},
         {},
         true,
         false,
         false,
         false,
         false,
         "/data/q"},
        {"DirEquals",
         {"--dir=rel/d", "--headless"},
         {},
         false,
         false,
         false,
         false,
         false,
         "rel/d"},
        {"DirWithoutValue", {"--headless", "--dir"}, {}, false, false, false, false, true},
        {"DirEmpty", {"--headless", "--dir="}, {}, false, false, false, false, true},
        {"Version", {"--headless", "--version"}, {}, false, false, false, false, false, "", true},
        {"Threads",
         {"--headless", "--threads", "8", "--all"},
         {},
         true,
         false,
         false,
         false,
         false,
         "",
         false,
         8},
        {"ThreadsEqualsHighest",
         {"--threads=16", "--headless"},
         {},
         false,
         false,
         false,
         false,
         false,
         "",
         false,
         16},
        {"ThreadsOne", {"--threads=1"}, {}, false, false, false, false, false, "", false, 1},
        {"KeepAlive",
         {"--headless", "--keep-alive", "--all"},
         {},
         true,
         false,
         false,
         false,
         false,
         "",
         false,
         2,
         true},
        {"KeepAliveWithValue",
         {"--headless", "--keep-alive=1"},
         {},
         false,
         false,
         false,
         false,
         true},
        {.Name = "VerifyPeer", .Arguments = {"--headless", "--verify-peer"}, .VerifyPeer = true},
        {"ThreadsZero", {"--threads", "0"}, {}, false, false, false, false, true},
        {"ThreadsAboveHighest", {"--threads=17"}, {}, false, false, false, false, true},
        {"ThreadsNotANumber", {"--threads", "8x"}, {}, false, false, false, false, true},
        {"ThreadsWithoutValue", {"--threads"}, {}, false, false, false, false, true},
        {"Unknown", {"--headless", "--limit", "3"}, {}, false, false, false, false, true},
        {"FreshAndResume",
         {"--headless", "--fresh", "--resume"},
         {},
         false,
         false,
         false,
         false,
         true},
        {"AllAndCity",
         {"--headless", "--all", "--city", "x"},
         {},
         false,
         false,
         false,
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const THeadlessOptions options = ParseHeadlessArgs(c.Arguments);
        EXPECT_EQ(!options.Error.isEmpty(), c.Error) << options.Error.toStdString();
        if (c.Error)
            continue;
        EXPECT_EQ(options.Cities, c.Cities);
        EXPECT_EQ(options.All, c.All);
        EXPECT_EQ(options.Fresh, c.Fresh);
        EXPECT_EQ(options.Resume, c.Resume);
        EXPECT_EQ(options.Help, c.Help);
        EXPECT_EQ(options.Dir, c.Dir);
        EXPECT_EQ(options.Version, c.Version);
        EXPECT_EQ(options.Threads, c.Threads);
        EXPECT_EQ(options.KeepAlive, c.KeepAlive);
        EXPECT_EQ(options.VerifyPeer, c.VerifyPeer);
    }
}

TEST(WindowArgs, ParsesOursAndLeavesTheToolkitsAlone) {
    const struct {
        const char* Name;
        QStringList Arguments;
        QString Dir = {};
        bool Help = false, Version = false, Error = false;
        bool KeepAlive = false;
        QString CaFile = {}; // "DIR/ca.pem" holds a certificate
    } cases[] = {
        {"None", {}, "", false, false, false},
        {"ToolkitOptions",
         {"-platform", "offscreen", "--style", "fusion"},
         "",
         false,
         false,
         false},
        {"Dir", {"-platform", "xcb", "--dir", "d"}, "d", false, false, false},
        {"DirEquals", {"--dir=/a b"}, "/a b", false, false, false},
        {"Help", {"--help"}, "", true, false, false},
        {"ShortHelp", {"-h"}, "", true, false, false},
        {"Version", {"--version"}, "", false, true, false},
        {"KeepAlive", {"-platform", "xcb", "--keep-alive"}, "", false, false, false, true},
        {.Name = "CaFile", .Arguments = {"--verify-peer=DIR/ca.pem"}, .CaFile = "DIR/ca.pem"},
        {.Name = "CaFileNotAFile", .Arguments = {"--verify-peer=DIR"}, .Error = true},
        {"DirWithoutValue", {"--dir"}, "", false, false, true},
        {"DirEmpty", {"--dir", ""}, "", false, false, true},
    };
    QTemporaryDir dir;
    WriteSelfSignedPem(dir.filePath("ca.pem"), dir.filePath("key.pem"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TWindowOptions options =
            ParseWindowArgs(QStringList(c.Arguments).replaceInStrings("DIR", dir.path()));
        EXPECT_EQ(!options.Error.isEmpty(), c.Error) << options.Error.toStdString();
        EXPECT_EQ(options.Dir, c.Dir);
        EXPECT_EQ(options.Help, c.Help);
        EXPECT_EQ(options.Version, c.Version);
        EXPECT_EQ(options.KeepAlive, c.KeepAlive);
        if (c.Error)
            continue;
        EXPECT_EQ(options.VerifyPeer, !c.CaFile.isEmpty());
        EXPECT_EQ(options.CaFile, QString(c.CaFile).replace("DIR", dir.path()));
    }
}

TEST(HeadlessArgs, OnlyTheFlagSelectsTheFrontEnd) {
    EXPECT_TRUE(WantsHeadless({"--all", "--headless"}));
    EXPECT_FALSE(WantsHeadless({}));
    EXPECT_FALSE(WantsHeadless({"--headless=1", "-headless"}));
}

} // namespace
