// The settings reader the fat-line pass uses: opening a key and a section, reading text.

#include "plot_test_helpers.h"

#include "plotinfo/settings_key_internal.h"

using namespace plot_test;

namespace
{

const char kFile[] = "REGEDIT4\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n"
                     "\"Top\"=\"top\"\r\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion\\General]\r\n"
                     "\"Name\"=\"value\"\r\n"
                     "\"Dword\"=dword:00000041\r\n";

} // namespace

TEST(SettingsKeyTest, OpensTheKeyOrASectionBelowIt)
{
    ScopedRegistry registry(kFile);
    CSettingsKey settings(HKEY_LOCAL_MACHINE, "Software\\Tavrin\\Conversion");
    CString text;
    ASSERT_EQ(settings.Open(nullptr), 1);
    EXPECT_EQ(settings.GetString("Top", text, nullptr), 1);
    EXPECT_EQ(text, "top");
    EXPECT_EQ(settings.GetString("Name", text, "fallback"), 0);
    EXPECT_EQ(text, "fallback");

    ASSERT_EQ(settings.Open("General"), 1);
    EXPECT_EQ(settings.GetString("Name", text, nullptr), 1);
    EXPECT_EQ(text, "value");
    EXPECT_EQ(settings.GetString("Dword", text, nullptr), 1);
    EXPECT_EQ(text, "A");
    EXPECT_EQ(settings.GetString("Top", text, nullptr), 0);
    EXPECT_EQ(text, "");
}

TEST(SettingsKeyTest, AFailedOpenLeavesNoKeyOpen)
{
    ScopedRegistry registry(kFile);
    CSettingsKey settings(HKEY_LOCAL_MACHINE, "Software\\Tavrin\\Conversion");
    ASSERT_EQ(settings.Open("General"), 1);
    EXPECT_EQ(settings.Open("Missing"), 0);
    CString text("old");
    EXPECT_EQ(settings.GetString("Name", text, "default"), 0);
    EXPECT_EQ(text, "default");

    CSettingsKey missing(HKEY_LOCAL_MACHINE, "Software\\Nobody");
    EXPECT_EQ(missing.Open(nullptr), 0);
    char buffer[4];
    EXPECT_EQ(missing.QueryValue("Name", buffer, sizeof buffer), 0);
}
