#pragma once

#include "ByteImage.h"
#include "protocol/DKACommand.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

// One documented message: how to build it, its byte image and its log text.
struct GoldenVector
{
    std::string name;
    std::function<std::shared_ptr<DKACommand>()> build;
    ByteArray image;
    std::string text;
};

inline void PrintTo(const GoldenVector& vector, std::ostream* os)
{
    *os << vector.name;
}

// Serialising the built command gives the image, GetSize its length, ToString the text.
inline void ExpectGolden(const GoldenVector& vector)
{
    auto command = vector.build();
    EXPECT_EQ(bytes::ToHex(command->Serialize()), bytes::ToHex(vector.image));
    EXPECT_EQ(command->GetSize(), vector.image.size());
    EXPECT_EQ(command->ToString(), vector.text);
}
