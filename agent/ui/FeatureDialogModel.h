#pragma once

#include "FeatureRequests.h"
#include "RecorderStatusTable.h"

#include <functional>
#include <map>
#include <mutex>

// What every feature dialog keeps apart from its windows: the status table it writes and
// the feature handler registered for each recorder. The Win32 dialogs draw this state.
//
// Threads and locks. The registry lock guards the handler map only. It is held for each
// change of the map and for a whole pass of ForEachHandler, during which the user-interface
// thread calls a handler's Request* (which only queues a send) or, on destruction,
// DetachDialog. So:
// - registry lock, then whatever lock the handler takes in Request*/DetachDialog, then the
//   model's own state lock, then the status table's lock. The model never takes the
//   registry lock while it holds its state lock.
// - A handler may call the model's setters from its own thread at any time, also while the
//   user-interface thread is inside ForEachHandler: the setters never take the registry lock.
// - A handler that unregisters (from its destructor, on its thread) while a pass is in
//   progress on another thread simply waits for the pass to end; after UnregisterHandler
//   returns, the model never calls it again. It must not hold, while it unregisters, a lock
//   that its Request* or DetachDialog take, and Request*/DetachDialog must not call
//   RegisterHandler/UnregisterHandler (the registry lock is not recursive).
// - DetachDialog means: never call this model again. The model is destroyed only once no
//   handler can still be inside one of its calls.
template <typename Client>
class CFeatureDialogModel
{
public:
    explicit CFeatureDialogModel(RecorderStatusTable* statusTable) : m_statusTable(statusTable) {}
    // Tells every registered handler that the dialog is gone.
    virtual ~CFeatureDialogModel();
    CFeatureDialogModel(const CFeatureDialogModel&) = delete;
    CFeatureDialogModel& operator=(const CFeatureDialogModel&) = delete;

    // Recorders 1 and 2 only, and only with a status table; a recorder keeps its first handler.
    void RegisterHandler(unsigned recorder, Client* handler);
    void UnregisterHandler(unsigned recorder);

    RecorderStatusTable* GetStatusTable() const { return m_statusTable; }

protected:
    static bool IsValidRecorder(unsigned recorder) { return recorder == 1 || recorder == 2; }

    // Calls action on every registered handler in recorder order, under the registry lock.
    void ForEachHandler(const std::function<void(unsigned recorder, Client&)>& action);

    // DetachDialog on every handler and forget them all. Derived models call it first thing
    // in their destructors, so that no handler calls in while their members go away.
    void DetachHandlers();

private:
    RecorderStatusTable* m_statusTable;
    std::mutex m_registryMutex;
    std::map<unsigned, Client*> m_handlers;
};

template <typename Client>
CFeatureDialogModel<Client>::~CFeatureDialogModel()
{
    DetachHandlers();
}

template <typename Client>
void CFeatureDialogModel<Client>::RegisterHandler(unsigned recorder, Client* handler)
{
    if (m_statusTable == nullptr || !IsValidRecorder(recorder) || handler == nullptr)
        return;
    std::lock_guard lock(m_registryMutex);
    m_handlers.emplace(recorder, handler);
}

template <typename Client>
void CFeatureDialogModel<Client>::UnregisterHandler(unsigned recorder)
{
    if (m_statusTable == nullptr || !IsValidRecorder(recorder))
        return;
    std::lock_guard lock(m_registryMutex);
    m_handlers.erase(recorder);
}

template <typename Client>
void CFeatureDialogModel<Client>::ForEachHandler(const std::function<void(unsigned recorder, Client&)>& action)
{
    std::lock_guard lock(m_registryMutex);
    for (const auto& [recorder, handler] : m_handlers)
        action(recorder, *handler);
}

template <typename Client>
void CFeatureDialogModel<Client>::DetachHandlers()
{
    std::lock_guard lock(m_registryMutex);
    for (const auto& [recorder, handler] : m_handlers)
        handler->DetachDialog();
    m_handlers.clear();
}
