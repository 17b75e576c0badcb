// What the program's manifest asks of Windows, as the window's executables get it.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(ProgramManifest, DrawsAtTheSystemsDpi) {
    EXPECT_TRUE(IsProcessDPIAware());
}

TEST(ProgramManifest, EightBitCallsTakeUtf8_SoPcNamesInAnyScriptWork) {
    ASSERT_EQ(static_cast<UINT>(CP_UTF8), GetACP());
    char folder[MAX_PATH] = {};
    GetTempPathA(sizeof folder, folder);
    // "Ωmega-файл-名前.bin" in UTF-8, through the 8-bit calls.
    const std::string name = std::string(folder) + "\xCE\xA9mega-\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB-\xE5\x90\x8D\xE5\x89\x8D.bin";
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    // The same file by its UTF-16 name.
    wchar_t wideFolder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, wideFolder);
    const std::wstring wide = std::wstring(wideFolder) + L"\u03A9mega-\u0444\u0430\u0439\u043B-\u540D\u524D.bin";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(wide.c_str()));
    EXPECT_TRUE(DeleteFileA(name.c_str()));
}

} // namespace
