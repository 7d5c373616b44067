#pragma once

#include "protocol/ActionMessages.h"

#include <cstdint>
#include <vector>

// What a feature dialog asks of the feature handler registered for one recorder. The
// dialogs call these on the user-interface thread.
class IFeatureDialogClient
{
public:
    // The dialog is going away: the handler must not call it any more.
    virtual void DetachDialog() = 0;

protected:
    ~IFeatureDialogClient() = default;
};

class IAnnotationRequester : public IFeatureDialogClient
{
public:
    // True when the values went to the recorder.
    virtual bool RequestAnnotation(const std::vector<AnnotateField>& values) = 0;

protected:
    ~IAnnotationRequester() = default;
};

class IManualSuppressionRequester : public IFeatureDialogClient
{
public:
    virtual void RequestManualSuppression(Suppression::Action action) = 0;

protected:
    ~IManualSuppressionRequester() = default;
};

class IRecordOnDemandRequester : public IFeatureDialogClient
{
public:
    virtual void RequestRecordOnDemand(RecordOnDemand::Action action) = 0;

protected:
    ~IRecordOnDemandRequester() = default;
};
