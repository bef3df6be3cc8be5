// Windows: narrow paths are in the file functions' code page.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "base/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

std::string text_in(UINT code_page, const std::wstring& wide) {
    BOOL used_default = FALSE;
    char buffer[256] = {};
    WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, buffer, sizeof buffer,
                        nullptr, &used_default);
    return used_default ? std::string() : std::string(buffer);
}

std::string ansi_text(const std::wstring& wide) { return text_in(CP_ACP, wide); }

// "été" is in every Latin code page, ANSI and OEM alike, at different bytes.
const std::wstring latin_path = L"C:\\Spiele\\Quill Mark \u00e9t\u00e9";

// The conversions below assume the machine's default: file functions in a
// classic single-byte ANSI code page.
class CodePage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AreFileApisANSI());
        ASSERT_NE(GetACP(), static_cast<UINT>(CP_UTF8));
    }
};

// Puts the file functions in the OEM code page for one test.
class OemFileApis {
public:
    OemFileApis() { SetFileApisToOEM(); }
    ~OemFileApis() { SetFileApisToANSI(); }
    OemFileApis(const OemFileApis&) = delete;
    OemFileApis& operator=(const OemFileApis&) = delete;
};

TEST_F(CodePage, AnsiTextConvertsBothWays) {
    const std::wstring wide = latin_path;
    const std::string narrow = ansi_text(wide);
    ASSERT_FALSE(narrow.empty());
    EXPECT_EQ(to_fs_path(narrow).native(), wide);
    EXPECT_EQ(to_narrow(std::filesystem::path(wide)), narrow);
}

TEST_F(CodePage, ConversionFollowsTheFileFunctionsIntoTheOemCodePage) {
    ASSERT_NE(GetOEMCP(), static_cast<UINT>(CP_UTF8));
    const std::string ansi = ansi_text(latin_path);
    const std::string oem = text_in(CP_OEMCP, latin_path);
    ASSERT_FALSE(ansi.empty());
    ASSERT_FALSE(oem.empty());
    ASSERT_NE(ansi, oem) << "ANSI " << GetACP() << " and OEM " << GetOEMCP()
                         << " agree on these letters";
    {
        const OemFileApis oem_file_apis;
        ASSERT_FALSE(AreFileApisANSI());
        EXPECT_EQ(to_narrow(std::filesystem::path(latin_path)), oem);
        EXPECT_EQ(to_fs_path(oem).native(), latin_path);
        EXPECT_NE(to_fs_path(ansi).native(), latin_path);
    }
    ASSERT_TRUE(AreFileApisANSI());
    EXPECT_EQ(to_narrow(std::filesystem::path(latin_path)), ansi);
    EXPECT_EQ(to_fs_path(ansi).native(), latin_path);
}

TEST_F(CodePage, CharacterOutsideTheCodePageFailsWithNoUnicodeTranslation) {
    // A CJK ideograph and a character that best-fit would turn into "a".
    for (const std::wstring wide : {std::wstring(L"C:\\Games\\\u4e00"), std::wstring(L"C:\\\u0101")}) {
        try {
            to_narrow(std::filesystem::path(wide));
            ADD_FAILURE() << "converted without an error";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), ERROR_NO_UNICODE_TRANSLATION);
            EXPECT_EQ(error.code().category(), std::system_category());
            EXPECT_NE(std::string(error.what()).find(system_message(error.code())), std::string::npos);
        }
    }
}

TEST(SystemMessage, IsTheSystemsTextWithoutLineBreak) {
    const std::string text = system_message({ERROR_FILE_NOT_FOUND, std::system_category()});
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower.find("file"), std::string::npos) << text;
}

using FullPath = scratch_dir_test;

TEST_F(FullPath, MapPathResolvesToBackslashesWithoutDotComponents) {
    const std::string here = to_narrow(absolute_path("."));
    ASSERT_GE(here.size(), 3u);
    EXPECT_EQ(here[1], ':');
    EXPECT_EQ(to_narrow(absolute_path("!QuillMark_data/./worlds/Quill Mark V1.1/Quill Mark V1.1.map")),
              here + "\\!QuillMark_data\\worlds\\Quill Mark V1.1\\Quill Mark V1.1.map");
}

// A file another program opened without sharing it: an update must say that
// the game holds it instead of failing without a reason.
TEST_F(FullPath, AFileHeldWithoutSharingIsInUseAndAPlainOneIsNot) {
    write_file("plain.dat", "x");
    write_file("held.dat", "x");
    EXPECT_FALSE(file_in_use("plain.dat"));
    const HANDLE held = CreateFileW(L"held.dat", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file_in_use("held.dat"));
    CloseHandle(held);
    EXPECT_FALSE(file_in_use("held.dat"));
}

// A folder name the ANSI code page cannot hold: the archive's file still
// opens, since it is opened by its wide path.
TEST_F(FullPath, AFileNamedOutsideTheAnsiCodePageOpensForReading) {
    const std::filesystem::path name = L"\u6e38\u620f \u03a0\u03b1\u03b9\u03c7\u03bd\u03af\u03b4\u03b9.bin";
    ASSERT_EQ(ansi_text(name.native()), "") << "the name fits the ANSI code page";
    {
        std::ofstream out(name, std::ios::binary);
        out << "archive";
    }
    std::FILE* file = open_for_reading(std::filesystem::absolute(name));
    ASSERT_NE(file, nullptr);
    char bytes[8] = {};
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, file), 7u);
    std::fclose(file);
    EXPECT_EQ(std::string(bytes), "archive");
}

}  // namespace
