// Recycled messages behave as new ones: nothing of their earlier life shows.
#include "MessagePool.h"

#include <gtest/gtest.h>

using namespace kzb::logging;

namespace {

MessagePtr Used(MessagePool& pool, const std::string& text, bool suppressed)
{
    MessagePtr message = pool.Acquire(4, 10, 20, nullptr);
    message->Stamp("old/Old.cpp");
    message->Printf("%s", text.c_str());
    if (suppressed)
        message->Suppress();
    return message;
}

TEST(MessagePool, RecycledMessageStartsAfresh)
{
    MessagePool pool;
    MessageBatch batch;
    batch.push_back(Used(pool, "short", false));
    batch.push_back(Used(pool, std::string(5000, 'x'), true));
    pool.Recycle(batch);
    EXPECT_TRUE(batch.empty());

    for (int i = 0; i < 2; ++i) {
        MessagePtr message = pool.Acquire(1, 2, 3, reinterpret_cast<ModuleHandle>(0x40));
        EXPECT_EQ(message->Level(), 1);
        EXPECT_EQ(message->Line(), 2);
        EXPECT_EQ(message->ThreadId(), 3u);
        EXPECT_EQ(message->Module(), reinterpret_cast<ModuleHandle>(0x40));
        EXPECT_FALSE(message->Suppressed());
        EXPECT_STREQ(message->File(), "");
        EXPECT_STREQ(message->LocalTime(), "");
        EXPECT_STREQ(message->UtcTime(), "");
        EXPECT_STREQ(message->Text(), "");
        message->Suppress(); // keep Printf from sending it to a logger
        message.release()->Printf("%s", "ignored"); // a suppressed message with a module frees itself
    }
}

} // namespace
