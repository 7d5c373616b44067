#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <vector>

using ByteArray = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Thrown whenever a read would go past the end of the received bytes.
class BufferToSmallException : public std::exception
{
public:
    const char* what() const noexcept override;
};

// A record that turns itself into a flat little-endian byte image and back.
//
// Deserialize reads the fields in wire order from the given bytes and ignores whatever
// follows the last one; Serialize writes them in the same order. GetSize is always the
// length of the image that Serialize returns.
class Serializable
{
public:
    virtual ~Serializable() = default;

    void Deserialize(ByteView data);
    virtual std::uint32_t GetSize() const = 0;
    ByteArray Serialize() const;

    // Cursor over received bytes; every read checks the remaining length first.
    class Reader
    {
    public:
        explicit Reader(ByteView data) : m_data(data) {}

        void Read(std::uint32_t& value);
        void Read(std::uint16_t& value);
        void Read(std::uint8_t& value);
        void Read(bool& value);
        // The next 32-bit value without consuming it (the type code of a polymorphic element).
        std::uint32_t PeekUInt32() const;
        // size 0: a NUL-terminated string of any length; otherwise a fixed field of size bytes.
        void ReadString(std::string& value, std::size_t size);
        void ReadObject(Serializable* pObject);

        // A 32-bit count, then that many records of one class appended to list.
        template <typename Element>
        void ReadList(std::vector<Element>& list)
        {
            std::uint32_t count = 0;
            Read(count);
            ReadObjects(count, list);
        }

        template <typename Element>
        void ReadObjects(std::uint32_t count, std::vector<Element>& list)
        {
            for (std::uint32_t i = 0; i < count; ++i) {
                Element element;
                ReadObject(&element);
                list.push_back(std::move(element));
            }
        }

        std::size_t Remaining() const { return m_data.size() - m_position; }

    private:
        void Require(std::size_t bytes) const;
        std::uint64_t ReadLittleEndian(std::size_t width);

        ByteView m_data;
        std::size_t m_position = 0;
    };

    // Appends fields to an image under construction.
    class Writer
    {
    public:
        explicit Writer(ByteArray& out) : m_out(out) {}

        void Write(std::uint32_t value);
        void Write(std::uint16_t value);
        void Write(std::uint8_t value);
        void Write(bool value);
        // size 0: the characters and one NUL; otherwise a fixed field of size bytes, NUL padded.
        void WriteString(const std::string& value, std::size_t size);
        void WriteObject(const Serializable* pObject);

        // The element count, then each element's image.
        template <typename Element>
        void WriteList(const std::vector<Element>& list)
        {
            Write(static_cast<std::uint32_t>(list.size()));
            WriteObjects(list);
        }

        template <typename Element>
        void WriteObjects(const std::vector<Element>& list)
        {
            for (const Element& element : list)
                WriteObject(&element);
        }

    private:
        void WriteLittleEndian(std::uint64_t value, std::size_t width);

        ByteArray& m_out;
    };

protected:
    // The record's fields in wire order. A derived record reads or writes its base's
    // fields first, then its own.
    virtual void ReadFields(Reader& in) = 0;
    virtual void WriteFields(Writer& out) const = 0;
};
