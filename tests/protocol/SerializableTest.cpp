#include "ByteImage.h"
#include "protocol/Serializable.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace bytes;

namespace {

// A record of one 32-bit value, for the nested-object and list rules.
class Number : public Serializable
{
public:
    explicit Number(std::uint32_t value = 0) : m_value(value) {}
    std::uint32_t value() const { return m_value; }
    std::uint32_t GetSize() const override { return 4; }

protected:
    void ReadFields(Reader& in) override { in.Read(m_value); }
    void WriteFields(Writer& out) const override { out.Write(m_value); }

private:
    std::uint32_t m_value;
};

// A record with no fields at all.
class Empty : public Serializable
{
public:
    std::uint32_t GetSize() const override { return 0; }

protected:
    void ReadFields(Reader&) override {}
    void WriteFields(Writer&) const override {}
};

ByteArray Written(const std::string& value, std::size_t size)
{
    ByteArray image;
    Serializable::Writer out(image);
    out.WriteString(value, size);
    return image;
}

std::string ExceptionText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(WriteString, FixedAndTerminatedImages)
{
    struct Case
    {
        std::string value;
        std::size_t size;
        ByteArray image;
    };
    const Case cases[] = {
        {"abc", 4, Hex("61 62 63 00")},
        {"abc", 6, Hex("61 62 63 00 00 00")},
        {"", 5, Zeros(5)},
        {"abc", 0, Hex("61 62 63 00")},
        {"", 0, Hex("00")},
        {std::string(49, 'x'), 50, Text(std::string(49, 'x'), 50)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value + " in " + std::to_string(c.size));
        EXPECT_EQ(ToHex(Written(c.value, c.size)), ToHex(c.image));
    }
}

TEST(WriteString, ValueThatDoesNotFitNamesValueAndSize)
{
    EXPECT_EQ(ExceptionText([] { Written("abc", 3); }), "length of string 'abc' is greater than fixed size 3");
    EXPECT_EQ(ExceptionText([] { Written(std::string(50, 'n'), 50); }),
              "length of string '" + std::string(50, 'n') + "' is greater than fixed size 50");
    EXPECT_THROW(Written("abc", 3), std::invalid_argument);
}

TEST(ReadString, ValuesAndAdvance)
{
    struct Case
    {
        const char* name;
        ByteArray image;
        std::size_t size;
        std::string value;
        std::size_t remainingAfter;
    };
    const Case cases[] = {
        {"terminated", Hex("61 62 63 00 7A"), 0, "abc", 1},
        {"terminated empty", Hex("00 01"), 0, "", 1},
        {"fixed, bytes after the NUL ignored", Text("ab", 50) + Hex("FF"), 50, "ab", 1},
        {"fixed, garbage inside the field", Hex("61 62 00 63 64 65"), 6, "ab", 0},
        {"fixed without NUL gives all N bytes", Hex("61 62 63 64"), 4, "abcd", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serializable::Reader in(c.image);
        std::string value = "old";
        in.ReadString(value, c.size);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(in.Remaining(), c.remainingAfter);
    }
}

TEST(ReadString, ShortBuffersThrow)
{
    struct Case
    {
        const char* name;
        ByteArray image;
        std::size_t size;
    };
    const Case cases[] = {
        {"at the end", {}, 4},
        {"terminated at the end", {}, 0},
        {"terminated without NUL", Hex("61 62 63"), 0},
        {"fixed field cut short", Hex("61 00 00"), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Serializable::Reader in(c.image);
        std::string value;
        EXPECT_THROW(in.ReadString(value, c.size), BufferToSmallException);
    }
}

TEST(ReadInteger, WidthsAndShortBuffers)
{
    const ByteArray four = Hex("78 56 34 12");
    Serializable::Reader in(four);
    std::uint32_t u32 = 0;
    in.Read(u32);
    EXPECT_EQ(u32, 0x12345678u);
    EXPECT_EQ(in.Remaining(), 0u);

    const ByteArray three = Hex("01 02 03");
    Serializable::Reader short32(three);
    EXPECT_THROW(short32.Read(u32), BufferToSmallException);
    EXPECT_THROW(short32.PeekUInt32(), BufferToSmallException);

    std::uint16_t u16 = 0;
    Serializable::Reader in16(three);
    in16.Read(u16);
    EXPECT_EQ(u16, 0x0201u);
    EXPECT_THROW(in16.Read(u16), BufferToSmallException);

    bool flag = false;
    const ByteArray two = Hex("02 00");
    Serializable::Reader inBool(two);
    inBool.Read(flag);
    EXPECT_TRUE(flag);
    inBool.Read(flag);
    EXPECT_FALSE(flag);
    EXPECT_THROW(inBool.Read(flag), BufferToSmallException);
}

TEST(ReadInteger, PeekDoesNotAdvance)
{
    const ByteArray image = Hex("03 00 00 00");
    Serializable::Reader in(image);
    EXPECT_EQ(in.PeekUInt32(), 3u);
    EXPECT_EQ(in.Remaining(), 4u);
}

TEST(NestedObject, ReadAdvancesByItsSize)
{
    const ByteArray image = U32(7) + U32(9);
    Serializable::Reader in(image);
    Number first, second;
    in.ReadObject(&first);
    in.ReadObject(&second);
    EXPECT_EQ(first.value(), 7u);
    EXPECT_EQ(second.value(), 9u);
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(NestedObject, ReadAtTheEndThrowsEvenForAnEmptyRecord)
{
    Serializable::Reader in(ByteView{});
    Empty empty;
    EXPECT_THROW(in.ReadObject(&empty), BufferToSmallException);
}

TEST(NestedObject, MissingObjectTexts)
{
    const ByteArray image = U32(1);
    Serializable::Reader in(image);
    EXPECT_EQ(ExceptionText([&] { in.ReadObject(nullptr); }), "pObject is null");

    ByteArray out;
    Serializable::Writer writer(out);
    EXPECT_EQ(ExceptionText([&] { writer.WriteObject(nullptr); }), "pObject in null");
}

TEST(List, EmptyListIsItsCount)
{
    ByteArray image;
    Serializable::Writer out(image);
    out.WriteList(std::vector<Number>{});
    EXPECT_EQ(ToHex(image), "00 00 00 00");
}

TEST(List, RoundTripKeepsOrder)
{
    ByteArray image;
    Serializable::Writer out(image);
    out.WriteList(std::vector<Number>{Number(5), Number(6)});
    EXPECT_EQ(ToHex(image), ToHex(U32(2) + U32(5) + U32(6)));

    std::vector<Number> read;
    Serializable::Reader in(image);
    in.ReadList(read);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].value(), 5u);
    EXPECT_EQ(read[1].value(), 6u);
}

TEST(List, FailingElementAbortsButKeepsWhatWasRead)
{
    const ByteArray image = U32(3) + U32(5) + Hex("06 00");
    std::vector<Number> read;
    Serializable::Reader in(image);
    EXPECT_THROW(in.ReadList(read), BufferToSmallException);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].value(), 5u);
}

TEST(List, HugeCountStopsAtTheEndOfTheBuffer)
{
    const ByteArray image = U32(0xFFFFFFFF) + U32(1);
    std::vector<Number> read;
    Serializable::Reader in(image);
    EXPECT_THROW(in.ReadList(read), BufferToSmallException);
    EXPECT_EQ(read.size(), 1u);
}

TEST(BufferToSmallException, Text)
{
    EXPECT_STREQ(BufferToSmallException().what(), "Object is too large for the given buffer.");
}
