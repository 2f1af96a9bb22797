#include <gtest/gtest.h>

#include "log_test_support.h"

namespace {

const char* const Function = "bool Cue_Ctl::ProcessStop()";

class LogFile : public ::testing::Test, protected LogFiles {
protected:
    // The record lines of the file, header block skipped, one string each.
    std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        std::string content = ReadFile(LogPath);
        if (content.compare(0, sizeof HeaderBlock - 1, HeaderBlock) == 0)
            content.erase(0, sizeof HeaderBlock - 1);
        size_t start = 0;
        for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(content.substr(start, end - start));
        return lines;
    }

    static std::string WithoutHeader(const std::string& line)
    {
        std::smatch match;
        if (!std::regex_search(line, match, RecordHeader(), std::regex_constants::match_continuous))
            return "(no header) " + line;
        return match.suffix();
    }
};

}  // namespace

TEST_F(LogFile, StartsWithTheHeaderBlockAndWritesOneLinePerRecord)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->Write("Exiting %s()", Log::DBG, Function, "ProcessStop");
    log->Write("FATAL ERROR: connect failed.", Log::MAJOR, Function);

    const std::string content = ReadFile(LogPath);
    ASSERT_EQ(content.compare(0, sizeof HeaderBlock - 1, HeaderBlock), 0) << content;
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutHeader(lines[0]), "Exiting ProcessStop()");
    EXPECT_EQ(WithoutHeader(lines[1]), "FATAL ERROR: connect failed.");
    EXPECT_NE(lines[0].find("   DBG  Exiting"), std::string::npos);
}

TEST_F(LogFile, DisplayMethodPutsTheSignatureOnItsOwnLine)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetDisplayMethod(true);
    log->Write("Exiting ProcessStop()", Log::DBG, Function);

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutHeader(lines[0]), "[bool Cue_Ctl::ProcessStop()] ");
    const size_t headerLength = lines[0].size() - WithoutHeader(lines[0]).size();
    EXPECT_EQ(lines[1], std::string(headerLength, ' ') + "Exiting ProcessStop()");
}

TEST_F(LogFile, WritesOnlyRecordsAtOrBelowTheLevel)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->Write("more", Log::MORE_DBG, Function);
    log->Write("debug", Log::DBG, Function);
    log->Write("major", Log::MAJOR, Function);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(WithoutHeader(lines[0]), "debug");
    EXPECT_EQ(WithoutHeader(lines[1]), "major");
}

TEST_F(LogFile, AtNoneOnlyNoneRecordsPassAndNoHeaderIsWritten)
{
    auto log = Open("cue_ctl=NONE\n");
    log->Write("major", Log::MAJOR, Function);
    EXPECT_FALSE(FileExists(LogPath));
    log->Write("none", Log::NONE, Function);
    EXPECT_EQ(WithoutHeader(ReadFile(LogPath)), "none\n");
}

TEST_F(LogFile, CutsTheMessageAt10239Characters)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->Write("%s", Log::DBG, Function, std::string(20000, 'a').c_str());
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(WithoutHeader(lines[0]), std::string(10239, 'a'));
}

TEST_F(LogFile, ByteArrayRecordIsTheTextANewlineAndTheDump)
{
    auto log = Open("cue_ctl=DEBUG\n");
    unsigned char frame[12] = {0x02, 0x05, 0x00, 0x07, 0x11, 0x20, 0x02, 0x02, 0x10, 0x00, 0xF0, 0x43};
    log->Write("Sent %d bytes", frame, sizeof frame, 10, 4, Log::DBG, Function, 12);
    log->Write("filtered", frame, sizeof frame, 10, 4, Log::MORE_DBG, Function);

    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(WithoutHeader(lines[0]), "Sent 12 bytes");
    EXPECT_EQ(lines[1], "  [ 02 05 00 07 11 20 02 02 10 00 ]");
    EXPECT_EQ(lines[2], "  [ F0 43                         ]");
}

TEST_F(LogFile, ReportsAFileItCannotOpenOnStandardError)
{
    const std::string missing = Dir.Path("no/such/folder/app.log");
    WriteFile(ConfPath, "cue_ctl=DEBUG\n");
    ::testing::internal::CaptureStderr();
    {
        Log log(missing.c_str(), "cue_ctl", ConfPath.c_str(), Log::NONE);
        log.Write("lost", Log::DBG, Function);
    }
    const std::string expected = "Failed to open log file: " + missing + "\n";
    // Once for the header block, once for the record.
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected + expected);
}

class Rotation : public LogFile {
protected:
    const std::string One = LogPath + ".1";
    const std::string Two = LogPath + ".2";

    void FillCurrentFile(size_t size) { WriteFile(LogPath, std::string(size, 'x')); }
};

TEST_F(Rotation, KeepsTwoOlderFilesAndStartsANewOneWithTheHeader)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    WriteFile(One, "older");
    WriteFile(Two, "oldest");
    FillCurrentFile(1 << 20);

    log->Write("over the limit", Log::DBG, Function);

    EXPECT_EQ(ReadFile(Two), "older");
    const std::string rotated = ReadFile(One);
    EXPECT_EQ(rotated.compare(0, 1 << 20, std::string(1 << 20, 'x')), 0);
    EXPECT_EQ(WithoutHeader(rotated.substr(1 << 20)), "over the limit\n");
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
    EXPECT_FALSE(FileExists(LogPath + ".3"));
}

TEST_F(Rotation, WithOnlyTheCurrentFileItBecomesTheFirstOlderOne)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    FillCurrentFile((1 << 20) + 1);
    log->Write("record", Log::DBG, Function);
    EXPECT_GT(ReadFile(One).size(), 1u << 20);
    EXPECT_FALSE(FileExists(Two));
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

TEST_F(Rotation, WithOneFileKeptTheOlderOneIsReplaced)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 1);
    WriteFile(One, "older");
    FillCurrentFile(1 << 20);
    log->Write("record", Log::DBG, Function);
    EXPECT_EQ(ReadFile(One).compare(0, 5, "xxxxx"), 0);
    EXPECT_FALSE(FileExists(Two));
}

TEST_F(Rotation, WithNoFilesKeptTheHeaderIsAppendedAfterEveryRecord)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 0);
    WriteFile(LogPath + ".0", "file zero");
    FillCurrentFile(1 << 20);
    log->Write("first", Log::DBG, Function);
    log->Write("second", Log::DBG, Function);

    const std::string content = ReadFile(LogPath);
    const std::string tail = content.substr(1 << 20);
    // Each record is followed by a header block of three lines.
    EXPECT_EQ(std::count(tail.begin(), tail.end(), '\n'), 2 + 2 * 3);
    EXPECT_NE(tail.find(std::string("first\n") + HeaderBlock), std::string::npos);
    EXPECT_EQ(content.substr(content.size() - (sizeof HeaderBlock - 1)), HeaderBlock);
    EXPECT_FALSE(FileExists(LogPath + ".0"));
    EXPECT_FALSE(FileExists(One));
}

TEST_F(Rotation, AFileOfExactlyTheLimitIsKeptAndOneByteMoreRotates)
{
    auto log = Open("cue_ctl=DEBUG\n");
    log->SetLogRotationConfig(1, 2);
    // Every record of this test has the same length: measure it once.
    WriteFile(LogPath, "");
    log->Write("sized record", Log::DBG, Function);
    const size_t recordLength = ReadFile(LogPath).size();

    FillCurrentFile((1 << 20) - recordLength);
    log->Write("sized record", Log::DBG, Function);
    EXPECT_EQ(ReadFile(LogPath).size(), 1u << 20);
    EXPECT_FALSE(FileExists(One));

    FillCurrentFile((1 << 20) - recordLength + 1);
    log->Write("sized record", Log::DBG, Function);
    EXPECT_EQ(ReadFile(One).size(), (1u << 20) + 1);
    EXPECT_EQ(ReadFile(LogPath), HeaderBlock);
}

TEST_F(Rotation, AtNoneTheFilesShiftAndNoNewCurrentFileIsCreated)
{
    auto log = Open("cue_ctl=NONE\n");
    log->SetLogRotationConfig(1, 2);
    FillCurrentFile(1 << 20);
    log->Write("none record", Log::NONE, Function);
    EXPECT_TRUE(FileExists(One));
    EXPECT_FALSE(FileExists(LogPath));
}
