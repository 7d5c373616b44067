#include "AnnotationFields.h"
#include "LogCapture.h"
#include "ui/AnnotationDialogModel.h"
#include "ui/RecordOnDemandDialogModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class CountingHandler : public IAnnotationRequester
{
public:
    void DetachDialog() override { detached = true; }
    bool RequestAnnotation(const std::vector<AnnotateField>&) override
    {
        ++requests;
        std::this_thread::yield(); // widen the window for an unregister to meet a pass
        return true;
    }

    std::atomic<int> requests{0};
    std::atomic<bool> detached{false};
};

} // namespace

// Two handler threads feed the models and one of them unregisters while the
// user-interface thread lays out and annotates.
TEST(DialogModelThreads, HandlersAndTheUserInterfaceShareTheModels)
{
    RecorderStatusTable table;
    table.AddEntry(1, "10.0.0.1");
    table.AddEntry(2, "10.0.0.2");
    CountingHandler one, two;
    CAnnotationDialogModel annotation(&table);
    CRecordOnDemandDialogModel recordOnDemand(&table);
    annotation.RegisterHandler(1, &one);
    annotation.RegisterHandler(2, &two);
    LogCapture log; // the differing configurations are logged

    // The handlers feed once, then wait for the first user-interface pass, so that its
    // checks run at least once while the handlers are still at work.
    std::atomic<int> fed{0};
    std::atomic<int> passes{0};
    std::atomic<int> finished{0};
    auto handlerThread = [&](unsigned recorder) {
        for (int i = 0; i < 500; ++i) {
            if (i == 1) {
                ++fed;
                while (passes == 0)
                    std::this_thread::yield();
            }
            const bool enabled = i % 8 != 7;
            annotation.SetAnnotationEnabled(recorder, enabled);
            if (enabled)
                annotation.SetAnnotationConfiguration(recorder, i % 3 ? SalesFields() : CustomerFields());
            annotation.SetAnnotationStatus(recorder, AnnotationStatus::ConfigurationInForce);
            recordOnDemand.SetRecordOnDemandMode(recorder, 1 + i % 2);
            recordOnDemand.SetRecordOnDemandState(recorder, i % 3);
            table.Set(recorder, &RecorderStatus::callState, i % 2);
            recordOnDemand.UpdateStateText();
        }
        if (recorder == 2)
            annotation.UnregisterHandler(2); // as the handler does when it goes
        ++finished;
    };
    std::thread first(handlerThread, 1u);
    std::thread second(handlerThread, 2u);
    while (fed < 2)
        std::this_thread::yield();
    do {
        annotation.UpdateLayout();
        annotation.SetFreeText(7, "A-1");
        annotation.Annotate();
        EXPECT_FALSE(recordOnDemand.StateText().empty());
        ++passes;
    } while (finished < 2);
    first.join();
    second.join();

    // Both recorders ended with the sales fields in force.
    annotation.UpdateLayout();
    ASSERT_TRUE(annotation.SetFreeText(7, "A-2"));
    const int before = two.requests;
    EXPECT_EQ(annotation.Annotate(), (std::vector<unsigned>{1}));
    EXPECT_EQ(two.requests, before) << "unregistered";
    EXPECT_FALSE(two.detached);
}
