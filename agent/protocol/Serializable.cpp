#include "Serializable.h"

#include <algorithm>
#include <stdexcept>

const char* BufferToSmallException::what() const noexcept
{
    return "Object is too large for the given buffer.";
}

void Serializable::Deserialize(ByteView data)
{
    Reader in(data);
    ReadFields(in);
}

ByteArray Serializable::Serialize() const
{
    ByteArray image;
    image.reserve(GetSize());
    Writer out(image);
    WriteFields(out);
    return image;
}

void Serializable::Reader::Require(std::size_t bytes) const
{
    if (Remaining() < bytes)
        throw BufferToSmallException();
}

std::uint64_t Serializable::Reader::ReadLittleEndian(std::size_t width)
{
    Require(width);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= static_cast<std::uint64_t>(m_data[m_position + i]) << (8 * i);
    m_position += width;
    return value;
}

void Serializable::Reader::Read(std::uint32_t& value)
{
    value = static_cast<std::uint32_t>(ReadLittleEndian(4));
}

void Serializable::Reader::Read(std::uint16_t& value)
{
    value = static_cast<std::uint16_t>(ReadLittleEndian(2));
}

void Serializable::Reader::Read(std::uint8_t& value)
{
    value = static_cast<std::uint8_t>(ReadLittleEndian(1));
}

void Serializable::Reader::Read(bool& value)
{
    value = ReadLittleEndian(1) != 0;
}

std::uint32_t Serializable::Reader::PeekUInt32() const
{
    Reader copy = *this;
    std::uint32_t value = 0;
    copy.Read(value);
    return value;
}

void Serializable::Reader::ReadString(std::string& value, std::size_t size)
{
    if (Remaining() == 0)
        throw BufferToSmallException();

    const auto* begin = m_data.data() + m_position;
    std::size_t fieldSize = size;
    if (size == 0) {
        const auto* end = begin + Remaining();
        const auto* nul = std::find(begin, end, std::uint8_t{0});
        if (nul == end)
            throw BufferToSmallException();
        fieldSize = static_cast<std::size_t>(nul - begin) + 1;
    }
    Require(fieldSize);

    const auto* fieldEnd = begin + fieldSize;
    const auto* textEnd = std::find(begin, fieldEnd, std::uint8_t{0});
    value.assign(begin, textEnd);
    m_position += fieldSize;
}

void Serializable::Reader::ReadObject(Serializable* pObject)
{
    if (pObject == nullptr)
        throw std::invalid_argument("pObject is null");
    if (Remaining() == 0)
        throw BufferToSmallException();

    Reader nested(m_data.subspan(m_position));
    pObject->ReadFields(nested);
    // The nested record's own size says where the next field starts.
    const std::size_t size = pObject->GetSize();
    Require(size);
    m_position += size;
}

void Serializable::Writer::WriteLittleEndian(std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        m_out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Serializable::Writer::Write(std::uint32_t value)
{
    WriteLittleEndian(value, 4);
}

void Serializable::Writer::Write(std::uint16_t value)
{
    WriteLittleEndian(value, 2);
}

void Serializable::Writer::Write(std::uint8_t value)
{
    WriteLittleEndian(value, 1);
}

void Serializable::Writer::Write(bool value)
{
    WriteLittleEndian(value ? 1 : 0, 1);
}

void Serializable::Writer::WriteString(const std::string& value, std::size_t size)
{
    if (size != 0 && value.size() + 1 > size) {
        throw std::invalid_argument("length of string '" + value + "' is greater than fixed size " +
                                    std::to_string(size));
    }
    m_out.insert(m_out.end(), value.begin(), value.end());
    const std::size_t padding = size == 0 ? 1 : size - value.size();
    m_out.insert(m_out.end(), padding, std::uint8_t{0});
}

void Serializable::Writer::WriteObject(const Serializable* pObject)
{
    if (pObject == nullptr)
        throw std::invalid_argument("pObject in null");
    Writer nested(m_out);
    pObject->WriteFields(nested);
}
