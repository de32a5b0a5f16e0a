#include "platform/allocation_internal.h"
#include "platform/cstring.h"
#include "platform/exception.h"

#include <cstring>

#include <gtest/gtest.h>

namespace
{

TEST(CStringTest, CopiesAssignsAndAppendsIndependently)
{
    CString a("AB\r\nCDE");
    CString b(a);
    b += "!";
    b += 'x';
    EXPECT_EQ(a, "AB\r\nCDE");
    EXPECT_EQ(b, "AB\r\nCDE!x");
    EXPECT_EQ(b.GetLength(), 9);
    a = b;
    EXPECT_EQ(a, b);
    a = static_cast<const char*>(nullptr);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_STREQ(a.GetString(), "");
}

TEST(CStringTest, SelfAppendAndAssignFromOwnBufferAreSafe)
{
    CString s("abc");
    s += s;
    EXPECT_EQ(s, "abcabc");
    s = s.GetString() + 3;
    EXPECT_EQ(s, "abc");
}

TEST(CStringTest, KeepsEmbeddedBytesAndCountsThem)
{
    const char bytes[] = {'A', 0x0E, 'B', 0x03, 'C'};
    CString s(bytes, 5);
    EXPECT_EQ(s.GetLength(), 5);
    EXPECT_EQ(s[3], 0x03);
    EXPECT_EQ(std::memcmp(s.GetString(), bytes, 5), 0);
    EXPECT_EQ(s.GetString()[5], '\0');
}

TEST(CStringTest, FailedAllocationKeepsTheOldText)
{
    CString s("short");
    genplot::detail::FailAllocationAfter(1);
    EXPECT_THROW(s = "a much longer text that needs a new buffer", CMemoryException*);
    EXPECT_EQ(s, "short");
}

TEST(CStringTest, LoadStringReadsTheLibraryTable)
{
    CString s;
    EXPECT_TRUE(s.LoadString(0));
    EXPECT_EQ(s, "no error.");
    EXPECT_TRUE(s.LoadString(204));
    EXPECT_EQ(s, "plot queue failed to respond.  Check installation.");
    EXPECT_FALSE(s.LoadString(199));
    EXPECT_TRUE(s.IsEmpty());
}

} // namespace
