#pragma once

#include "ui/FeatureRequests.h"

#include <cstdint>
#include <string>
#include <vector>

// Feature handlers that write what the dialogs asked of them into one shared journal, so
// that the order across recorders shows: "1 start", "2 annotate 7=Sale", "1 detach".
struct Journal
{
    std::vector<std::string> entries;
};

class FakeHandlerBase
{
public:
    FakeHandlerBase(unsigned recorder, Journal& journal) : m_recorder(recorder), m_journal(journal) {}

protected:
    void Note(const std::string& what) { m_journal.entries.push_back(std::to_string(m_recorder) + " " + what); }

private:
    unsigned m_recorder;
    Journal& m_journal;
};

class FakeAnnotationHandler : public IAnnotationRequester, FakeHandlerBase
{
public:
    FakeAnnotationHandler(unsigned recorder, Journal& journal, bool accepts = true)
        : FakeHandlerBase(recorder, journal), m_accepts(accepts)
    {
    }
    void DetachDialog() override { Note("detach"); }
    bool RequestAnnotation(const std::vector<AnnotateField>& values) override
    {
        std::string text = "annotate";
        for (const AnnotateField& value : values)
            text += " " + std::to_string(value.GetFieldID()) + "=" + value.GetValue();
        Note(text);
        return m_accepts;
    }

private:
    bool m_accepts;
};

class FakeSuppressionHandler : public IManualSuppressionRequester, FakeHandlerBase
{
public:
    using FakeHandlerBase::FakeHandlerBase;
    void DetachDialog() override { Note("detach"); }
    void RequestManualSuppression(Suppression::Action action) override
    {
        Note(action == Suppression::Start ? "start" : action == Suppression::End ? "end" : "?");
    }
};

class FakeRecordOnDemandHandler : public IRecordOnDemandRequester, FakeHandlerBase
{
public:
    using FakeHandlerBase::FakeHandlerBase;
    void DetachDialog() override { Note("detach"); }
    void RequestRecordOnDemand(RecordOnDemand::Action action) override
    {
        Note(action == RecordOnDemand::Keep ? "keep" : action == RecordOnDemand::Discard ? "discard" : "?");
    }
};
