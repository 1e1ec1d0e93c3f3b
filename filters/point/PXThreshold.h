// Replaces samples above an upper threshold and below a lower threshold by fixed values, per
// colour channel; alpha passes through.
#pragma once

#include "platform/filters/PXCommonFilter.h"

namespace pixora {

// One limit: a threshold colour and a replacement colour (bytes in stored channel order, lowest
// byte first), used only while Enabled. The two subclasses differ in their initial values.
class TPXThresholdValue : public TLockPersistent {
public:
    explicit TPXThresholdValue(TChangeNotifyLock& lock) : TLockPersistent(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();

    bool GetEnabled() const { return ReadLocked(FEnabled); }
    void SetEnabled(bool value) { SetPublished(&TPXThresholdValue::FEnabled, value); }
    TColor GetThreshold() const { return ReadLocked(FThreshold); }
    void SetThreshold(TColor value) { SetPublished(&TPXThresholdValue::FThreshold, value); }
    TColor GetValue() const { return ReadLocked(FValue); }
    void SetValue(TColor value) { SetPublished(&TPXThresholdValue::FValue, value); }

    // Takes the other limit's Enabled, Threshold and Value (each stored through this object's lock).
    void Assign(const TPXThresholdValue& other);

protected:
    bool FEnabled;
    TColor FThreshold = 0, FValue = 0;
};

class TPXThresholdValueTop final : public TPXThresholdValue {
public:
    explicit TPXThresholdValueTop(TChangeNotifyLock& lock) : TPXThresholdValue(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
};

class TPXThresholdValueBottom final : public TPXThresholdValue {
public:
    explicit TPXThresholdValueBottom(TChangeNotifyLock& lock) : TPXThresholdValue(lock) { AutoInitProperties(Properties()); }
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
};

class TPXThreshold final : public TPXCommonFilter {
public:
    explicit TPXThreshold(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXThresholdValueTop& ThresholdTop() { return FThresholdTop; }
    TPXThresholdValueBottom& ThresholdBottom() { return FThresholdBottom; }
    // Setting a limit copies the given object's values into the owned one.
    void SetThresholdTop(const TPXThresholdValue& value) { FThresholdTop.Assign(value); }
    void SetThresholdBottom(const TPXThresholdValue& value) { FThresholdBottom.Assign(value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    TPXThresholdValueTop FThresholdTop;
    TPXThresholdValueBottom FThresholdBottom;
    unsigned long FWarnedChange = ~0ul;  // the settings last reported as crossed
};

namespace PXThreshold {
void RegisterPkg();
}

}  // namespace pixora
