#pragma once

#include "Desktop.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace kzb::inspection {

// A page that did not answer within the bound, or whose browser has not answered since.
class PageNotAnswering : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One browser window's page for one moment, read on a thread of its own: a browser that
// hangs inside a call costs the inspection the bound once, and no lock of ours is held
// meanwhile. A reader stuck in a browser is left behind; it ends by itself once the browser
// answers, and until then that window's page reads as failed at once, without waiting.
class PageReader
{
public:
    // The whole page read (the document asked for, then every property) within this time.
    static constexpr std::chrono::milliseconds Bound{1000};
    // Readers left behind in browsers that do not answer, at most.
    static constexpr std::size_t MaxAbandoned = 8;

    enum class Property
    {
        Domain,
        Body,
        Title,
        URL,
    };

    // Nothing is read until the first Get.
    PageReader(std::shared_ptr<Desktop> desktop, WindowId window, BrowserPageAccess access);
    ~PageReader();
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // The property as the page gives it. Throws what opening the page threw, or
    // PageNotAnswering when the bound (counted from the first Get) passed first or the
    // browser has not answered since an earlier moment. Several threads may ask at once.
    std::string Get(Property property);

    // Readers still running (working, or stuck in a browser), for tests.
    static std::size_t RunningReaders();

    // What a reader thread shares with the threads that wait for it.
    struct Work;

private:
    std::shared_ptr<Work> Begin();

    const std::shared_ptr<Desktop> m_desktop;
    const WindowId m_window;
    const BrowserPageAccess m_access;
    std::shared_ptr<Work> m_work;
};

} // namespace kzb::inspection
