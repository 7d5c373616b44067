#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>

// What one recorder reported and what the feature handlers decided for it.
struct RecorderStatus
{
    bool handlerActive = false;
    bool annotationEnabled = false;
    std::uint32_t connectionStatus = 0;
    std::uint32_t annotationStatus = 0;
    std::uint32_t manualSuppressionEnabled = 0;
    std::uint32_t autoSuppressionState = 1;
    std::uint32_t recordOnDemandEnabled = 0;
    std::uint32_t callState = 0;
    std::uint32_t stateTimeout = 0;
    std::uint32_t recordOnDemandMode = 1;
    std::uint32_t recordOnDemandAction = 0;
    std::uint32_t recordOnDemandDefaultAction = 0;
    std::string address;
    std::string autoSuppressionTrigger;

    bool operator==(const RecorderStatus&) const = default;
    // Every field but the address.
    bool SameState(const RecorderStatus& other) const;
};

// Values of RecorderStatus::connectionStatus.
namespace ConnectionStatus {
enum : std::uint32_t
{
    NotStarted = 0,
    InvalidAddress = 1,
    NotConnected = 2,
    InvalidConfiguration = 5,
    NoLongerAttempting = 6,
    Connected = 7,
};
} // namespace ConnectionStatus

// Values of RecorderStatus::annotationStatus.
namespace AnnotationStatus {
enum : std::uint32_t
{
    NoHandler = 0,
    ConfigurationUnusable = 1,
    ConfigurationDiffers = 2,
    ConfigurationInForce = 3,
};
} // namespace AnnotationStatus

// The shared record of recorders 1 and 2. Every operation takes the one lock for itself
// only; numbers other than 1 and 2, or without an entry, read as a new entry's defaults
// (zero, and mode 1) and are not written.
class RecorderStatusTable
{
public:
    using Entries = std::map<unsigned, RecorderStatus>;

    void AddEntry(unsigned recorder, const std::string& address);

    template <typename Field>
    Field Get(unsigned recorder, Field RecorderStatus::*field) const
    {
        std::lock_guard lock(m_mutex);
        const auto entry = m_entries.find(recorder);
        return entry != m_entries.end() && IsValid(recorder) ? entry->second.*field : Missing(field);
    }

    template <typename Field, typename Value>
    void Set(unsigned recorder, Field RecorderStatus::*field, Value value)
    {
        {
            std::lock_guard lock(m_mutex);
            const auto entry = m_entries.find(recorder);
            if (entry == m_entries.end() || !IsValid(recorder) || entry->second.*field == static_cast<Field>(value))
                return;
            entry->second.*field = static_cast<Field>(value);
        }
        NotifyChange();
    }

    // For a change of something built from the values after they were written (a text).
    void NotifyChange() const
    {
        if (m_changeObserver)
            m_changeObserver();
    }

    // Called after each write that changed a value, outside the lock, on the writing
    // thread. Set before any writer runs.
    void SetChangeObserver(std::function<void()> observer) { m_changeObserver = std::move(observer); }

    bool HasEntry(unsigned recorder) const;
    // A copy of every entry, taken under the lock.
    Entries GetEntries() const;

    // Aggregates over all entries.
    bool AnyHandlerActive() const;
    bool AnyAnnotationEnabled() const;
    std::uint32_t LargestAnnotationStatus() const;
    bool AnyManualSuppressionEnabled() const;
    bool AnyRecordOnDemandEnabled() const;
    // Some entry's call state holds every bit of mask.
    bool AnyCallState(std::uint32_t mask) const;
    bool AnyRecordOnDemandMode(std::uint32_t mode) const;
    std::uint32_t LargestRecordOnDemandAction() const;
    std::uint32_t LargestRecordOnDemandDefaultAction() const;
    // The smallest non-zero state time-out, or 2 when there is none.
    std::uint32_t SmallestStateTimeout() const;

private:
    static bool IsValid(unsigned recorder) { return recorder == 1 || recorder == 2; }
    template <typename Field>
    static Field Missing(Field RecorderStatus::*field)
    {
        if constexpr (std::is_same_v<Field, std::uint32_t>) {
            if (field == &RecorderStatus::recordOnDemandMode)
                return 1;
        }
        return Field{};
    }
    template <typename Predicate>
    bool Any(Predicate predicate) const;
    template <typename Field>
    Field Largest(Field RecorderStatus::*field) const;

    mutable std::mutex m_mutex;
    Entries m_entries;
    std::function<void()> m_changeObserver;
};
