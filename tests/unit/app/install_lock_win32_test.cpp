#include <gtest/gtest.h>

#include "app/install_lock.hpp"

namespace {

// One mutex per data directory, whatever the case of its letters or the
// slashes: two launchers in one folder must find the same lock.
TEST(InstallLock, MutexNameIgnoresCaseAndTrailingSeparators) {
    const std::wstring name = install_mutex_name(L"C:\\Games\\QM\\!QuillMark_data\\");
    EXPECT_EQ(name, install_mutex_name(L"c:\\games\\qm\\!quillmark_DATA"));
    EXPECT_EQ(name, install_mutex_name(L"C:/Games/QM/!QuillMark_data/"));
    EXPECT_NE(name, install_mutex_name(L"C:\\Games\\QM2\\!QuillMark_data\\"));
    EXPECT_EQ(name.rfind(L"Local\\", 0), 0u);
    EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos);
}

}  // namespace
