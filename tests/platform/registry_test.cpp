// The registry read from a regedit-format text file: where the file is found, what it may
// hold, and the Win32 results the three calls give.

#include "platform/registry.h"
#include "support/scoped_env.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

std::string TempDir()
{
    const char* dir = std::getenv("GENPLOT_TEST_TMP");
    return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

void WriteFile(const std::string& path, const std::string& contents)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

class RegistryTest : public ::testing::Test
{
  protected:
    void Write(const std::string& contents)
    {
        WriteFile(path_, contents);
    }

    // Opens `path` below HKEY_LOCAL_MACHINE; the key is closed by the fixture.
    HKEY Open(const char* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS)
            << path;
        if (key != nullptr)
            opened_.push_back(key);
        return key;
    }
    LONG OpenResult(const char* path)
    {
        HKEY key = nullptr;
        LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            EXPECT_EQ(key, nullptr);
        return result;
    }

    struct Read
    {
        LONG result;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    Read Query(HKEY key, const char* name)
    {
        Read read{0, 0xFFFF, std::vector<BYTE>(64, 0xEE)};
        DWORD size = static_cast<DWORD>(read.bytes.size());
        read.result = RegQueryValueExA(key, name, nullptr, &read.type, read.bytes.data(), &size);
        read.bytes.resize(read.result == ERROR_SUCCESS ? size : 0);
        return read;
    }

    ~RegistryTest() override
    {
        for (HKEY key : opened_)
            RegCloseKey(key);
        std::remove(path_.c_str());
    }

    std::string path_ = TempDir() + "/registry_test_" + std::to_string(getpid()) + ".reg";
    ScopedEnv env_{"GENPLOT_REGISTRY", path_.c_str()};
    std::vector<HKEY> opened_;
};

std::vector<BYTE> Bytes(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

const char kConversion[] = "Software\\Tavrin\\Conversion";

} // namespace

TEST_F(RegistryTest, WithoutAFileThereAreNoKeysButTheRootsOpen)
{
    std::remove(path_.c_str());
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenResult(nullptr), ERROR_SUCCESS);
    EXPECT_EQ(OpenResult(""), ERROR_SUCCESS);
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "anything").result, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, FileWithoutTheFirstLineHoldsNoKeys)
{
    Write("[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n\"A\"=\"1\"\r\n");
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
    Write("; comment\r\nREGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n");
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, BothHeaderVersionsAndBothLineEndingsAreRead)
{
    for (const char* file :
         {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\n\"A\"=\"x\"\n",
          "Windows Registry Editor Version 5.00\r\n\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n\"A\"=\"x\"\r\n"})
    {
        Write(file);
        HKEY key = Open(kConversion);
        ASSERT_NE(key, nullptr);
        Read read = Query(key, "A");
        EXPECT_EQ(read.result, ERROR_SUCCESS);
        EXPECT_EQ(read.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(read.bytes, Bytes(std::string("x", 2)));
    }
}

TEST_F(RegistryTest, ValueKindsComeBackAsStored)
{
    Write("REGEDIT4\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion\\General]\r\n"
          "\"Text\"=\"C:\\\\dir\\\\\\\"q\\\"\"\r\n"
          "\"Empty\"=\"\"\r\n"
          "\"Count\"=dword:0000000a\r\n"
          "\"Big\"=dword:DEADbeef\r\n"
          "\"Raw\"=hex:41,42,00\r\n"
          "\"Expand\"=hex(2):25,00\r\n"
          "\"Long\"=hex:01,02,\\\r\n"
          "  03,04\r\n"
          "\"Nothing\"=hex:\r\n"
          "@=\"default\"\r\n");
    HKEY key = Open("Software\\Tavrin\\Conversion\\General");
    ASSERT_NE(key, nullptr);

    Read text = Query(key, "Text");
    EXPECT_EQ(text.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text.bytes, Bytes(std::string("C:\\dir\\\"q\"", 11)));
    EXPECT_EQ(Query(key, "Empty").bytes, (std::vector<BYTE>{0}));

    Read count = Query(key, "Count");
    EXPECT_EQ(count.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(count.bytes, (std::vector<BYTE>{0x0A, 0, 0, 0}));
    EXPECT_EQ(Query(key, "Big").bytes, (std::vector<BYTE>{0xEF, 0xBE, 0xAD, 0xDE}));

    Read raw = Query(key, "Raw");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw.bytes, (std::vector<BYTE>{0x41, 0x42, 0x00}));
    Read expand = Query(key, "Expand");
    EXPECT_EQ(expand.type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(expand.bytes, (std::vector<BYTE>{0x25, 0x00}));
    EXPECT_EQ(Query(key, "Long").bytes, (std::vector<BYTE>{1, 2, 3, 4}));
    Read nothing = Query(key, "Nothing");
    EXPECT_EQ(nothing.result, ERROR_SUCCESS);
    EXPECT_TRUE(nothing.bytes.empty());

    EXPECT_EQ(Query(key, nullptr).bytes, Bytes(std::string("default", 8)));
    EXPECT_EQ(Query(key, "").bytes, Bytes(std::string("default", 8)));
    EXPECT_EQ(Query(key, "Missing").result, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase)
{
    Write("REGEDIT4\r\n[hkey_local_machine\\SOFTWARE\\tavrin\\Conversion\\GENERAL]\r\n"
          "\"MiterLimit\"=\"2\"\r\n");
    HKEY key = Open("software\\TAVRIN\\conversion\\General");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(Query(key, "MITERLIMIT").result, ERROR_SUCCESS);
}

TEST_F(RegistryTest, SubkeyOpensBelowAnOpenedKeyAndParentsOfSectionsExist)
{
    Write("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion\\General]\r\n"
          "\"A\"=\"1\"\r\n");
    HKEY parent = Open(kConversion);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(Query(parent, "A").result, ERROR_FILE_NOT_FOUND);
    HKEY general = nullptr;
    ASSERT_EQ(RegOpenKeyExA(parent, "General", 0, KEY_READ, &general), ERROR_SUCCESS);
    EXPECT_EQ(Query(general, "A").result, ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(general), ERROR_SUCCESS);

    EXPECT_EQ(OpenResult("Software\\Tavrin\\Conversion\\Gen"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenResult("Software\\Tavrin\\Conversion\\General\\Deeper"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenResult("Software\\Tavrin\\Conversion\\"), ERROR_SUCCESS);
    EXPECT_EQ(OpenResult("\\Software"), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, OtherRootsAreSeparate)
{
    Write("REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Tavrin\\Conversion]\r\n\"A\"=\"1\"\r\n");
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kConversion, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "A").result, ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(RegistryTest, LaterLinesReplaceAndDeleteEarlierOnes)
{
    Write("REGEDIT4\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"V\"=\"1\"\r\n\"W\"=\"1\"\r\n\"X\"=\"1\"\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\A\\Child]\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\B]\r\n\"V\"=\"1\"\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"v\"=\"2\"\r\n\"W\"=-\r\n"
          "[-HKEY_LOCAL_MACHINE\\Software\\B]\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\B]\r\n"
          "[-HKEY_LOCAL_MACHINE\\Software\\C]\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\C]\r\n\"Lost\"=\"1\"\r\n"
          "[-HKEY_LOCAL_MACHINE\\Software\\C]\r\n");
    HKEY a = Open("Software\\A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Query(a, "V").bytes, Bytes(std::string("2", 2)));
    EXPECT_EQ(Query(a, "W").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(a, "X").result, ERROR_SUCCESS);
    EXPECT_EQ(OpenResult("Software\\A\\Child"), ERROR_SUCCESS);
    HKEY b = Open("Software\\B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Query(b, "V").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenResult("Software\\C"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, MalformedLinesAreSkipped)
{
    Write("REGEDIT4\r\n"
          "\"Orphan\"=\"before any section\"\r\n"
          "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
          "; \"Comment\"=\"1\"\r\n"
          "\"Unclosed=\"1\"\r\n"
          "\"BadDword\"=dword:123456789\r\n"
          "\"BadHex\"=hex:4g\r\n"
          "\"Trailing\"=\"1\" junk\r\n"
          "\"NoEquals\" \"1\"\r\n"
          "\"Good\"=\"1\"\r\n"
          "[NOT_A_ROOT\\Software\\A]\r\n"
          "\"Elsewhere\"=\"1\"\r\n");
    HKEY key = Open("Software\\A");
    ASSERT_NE(key, nullptr);
    for (const char* name : {"Orphan", "Comment", "Unclosed", "BadDword", "BadHex", "Trailing",
                             "NoEquals", "Elsewhere"})
        EXPECT_EQ(Query(key, name).result, ERROR_FILE_NOT_FOUND) << name;
    EXPECT_EQ(Query(key, "Good").result, ERROR_SUCCESS);
}

TEST_F(RegistryTest, SmallBufferGetsMoreDataAndTheNeededSize)
{
    Write("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"V\"=\"hello\"\r\n");
    HKEY key = Open("Software\\A");
    ASSERT_NE(key, nullptr);
    BYTE buffer[6] = {9, 9, 9, 9, 9, 9};
    DWORD size = 5;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), std::string("hello", 6));
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", &reserved, nullptr, nullptr, &size),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, FileIsReadAgainAtEachOpenAndAnOpenKeyKeepsItsSnapshot)
{
    Write("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"V\"=\"1\"\r\n");
    HKEY before = Open("Software\\A");
    ASSERT_NE(before, nullptr);
    Write("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"V\"=\"2\"\r\n");
    EXPECT_EQ(Query(before, "V").bytes, Bytes(std::string("1", 2)));
    HKEY after = Open("Software\\A");
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(Query(after, "V").bytes, Bytes(std::string("2", 2)));
    std::remove(path_.c_str());
    EXPECT_EQ(Query(after, "V").result, ERROR_SUCCESS);
    EXPECT_EQ(OpenResult("Software\\A"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, Utf16FileFromRegeditIsRead)
{
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n\"V\"=\"caf\xC3\xA9\"\r\n";
    // UTF-16LE with a byte order mark, as regedit writes version 5 files.
    std::string wide = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0xC3)
        {
            wide += '\xE9';
            wide += '\0';
            ++i;
            continue;
        }
        wide += static_cast<char>(c);
        wide += '\0';
    }
    Write(wide);
    HKEY key = Open("Software\\A");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(Query(key, "V").bytes, Bytes(std::string("caf\xC3\xA9", 6)));
}

TEST_F(RegistryTest, HandlesAreChecked)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(nullptr, "Software", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(nullptr, "V", nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

TEST(RegistryLocationTest, DefaultFileIsUnderTheConfigurationFolder)
{
    std::string base = TempDir() + "/registry_home_" + std::to_string(getpid());
    std::string folder = base + "/.config/genplot";
    std::filesystem::create_directories(folder);
    WriteFile(folder + "/registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Home]\n");

    ScopedEnv noOverride("GENPLOT_REGISTRY", nullptr);
    ScopedEnv home("HOME", base.c_str());
    {
        ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Home", 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    {
        // XDG_CONFIG_HOME wins over HOME; an empty GENPLOT_REGISTRY counts as unset.
        ScopedEnv xdg("XDG_CONFIG_HOME", (base + "/.config").c_str());
        ScopedEnv empty("GENPLOT_REGISTRY", "");
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Home", 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", (base + "/elsewhere").c_str());
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Home", 0, KEY_READ, &key),
                  ERROR_FILE_NOT_FOUND);
    }
    std::filesystem::remove_all(base);
}

// What the file may be: a regular file of at most 16 MiB. Anything else reads as no file,
// without blocking on a named pipe or reading a device without end.
TEST_F(RegistryTest, OnlyARegularFileOfSaneSizeIsRead)
{
    const std::string content = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]"
                                "\r\n\"A\"=\"1\"\r\n";
    Write(content);
    EXPECT_EQ(OpenResult(kConversion), ERROR_SUCCESS);

    // At the limit it is read; one byte more and it counts as missing.
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(genplot::kMaxRegistryFileSize)), 0);
    EXPECT_EQ(OpenResult(kConversion), ERROR_SUCCESS);
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(genplot::kMaxRegistryFileSize + 1)), 0);
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);

    // Should an open block or read without end, the alarm ends the test instead.
    std::signal(SIGALRM, SIG_DFL);
    alarm(30);
    std::remove(path_.c_str());
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND); // no writer: must not wait
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "A").result, ERROR_FILE_NOT_FOUND);
    {
        ScopedEnv device("GENPLOT_REGISTRY", "/dev/zero");
        EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
    }
    {
        ScopedEnv folder("GENPLOT_REGISTRY", TempDir().c_str());
        EXPECT_EQ(OpenResult(kConversion), ERROR_FILE_NOT_FOUND);
    }
    alarm(0);
}

TEST_F(RegistryTest, AFileNamedForTheProcessWinsOverTheEnvironment)
{
    Write("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n\"A\"=\"env\"\r\n");
    const std::string chosen = path_ + ".chosen";
    WriteFile(
        chosen,
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion]\r\n\"A\"=\"own\"\r\n");
    const auto valueOfA = [this] {
        HKEY key = Open(kConversion);
        return key != nullptr ? Query(key, "A").bytes : std::vector<BYTE>();
    };
    EXPECT_EQ(valueOfA(), Bytes(std::string("env", 4)));
    ASSERT_TRUE(genplot::UseRegistryFile(chosen.c_str()));
    EXPECT_EQ(valueOfA(), Bytes(std::string("own", 4)));

    // Files that cannot serve are refused with a reason, and the choice stays.
    errno = 0;
    EXPECT_FALSE(genplot::UseRegistryFile("/dev/zero"));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(genplot::UseRegistryFile(TempDir().c_str()));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(genplot::UseRegistryFile((path_ + ".missing").c_str()));
    EXPECT_EQ(errno, ENOENT);
    const std::string large = path_ + ".large";
    WriteFile(large, "REGEDIT4\r\n");
    ASSERT_EQ(truncate(large.c_str(), static_cast<off_t>(genplot::kMaxRegistryFileSize + 1)), 0);
    EXPECT_FALSE(genplot::UseRegistryFile(large.c_str()));
    EXPECT_EQ(errno, EFBIG);
    EXPECT_EQ(valueOfA(), Bytes(std::string("own", 4)));

    // Null goes back to the environment.
    EXPECT_TRUE(genplot::UseRegistryFile(nullptr));
    EXPECT_EQ(valueOfA(), Bytes(std::string("env", 4)));
    std::remove(chosen.c_str());
    std::remove(large.c_str());
}
