// Windows: narrow paths are in the file functions' code page.
#include <windows.h>

#include <cctype>

#include <gtest/gtest.h>

#include "app/errors.hpp"
#include "app/fs.hpp"
#include "support/scratch_dir.hpp"

namespace {

std::string ansi_text(const std::wstring& wide) {
    BOOL used_default = FALSE;
    char buffer[256] = {};
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, buffer, sizeof buffer,
                        nullptr, &used_default);
    return used_default ? std::string() : std::string(buffer);
}

TEST(CodePage, FileApisAreAnsiAndNotUtf8) {
    // The tests below assume a classic single-byte ANSI code page.
    EXPECT_TRUE(AreFileApisANSI());
    EXPECT_NE(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(CodePage, AnsiTextConvertsBothWays) {
    const std::wstring wide = L"C:\\Spiele\\Quill Mark \u00e9t\u00e9";  // "été" is in every Latin code page
    const std::string narrow = ansi_text(wide);
    ASSERT_FALSE(narrow.empty());
    EXPECT_EQ(to_fs_path(narrow).native(), wide);
    EXPECT_EQ(to_narrow(std::filesystem::path(wide)), narrow);
}

TEST(CodePage, CharacterOutsideTheCodePageFailsWithNoUnicodeTranslation) {
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

TEST(CodePage, SystemMessageIsTheSystemsTextWithoutLineBreak) {
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

}  // namespace
