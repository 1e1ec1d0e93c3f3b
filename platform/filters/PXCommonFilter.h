// The single-input video filter: one image input pin, one image output pin, format negotiation
// with the fallback to three 8-bit channels, and the per-frame call of FilterInternalOperation.
#pragma once

#include "platform/filters/PXThreadedFilter.h"
#include "platform/image/PXImageBuffer.h"

namespace pixora {

class TPXCommonFilter : public TQNBasicTypedThreadedEnableFilter {
public:
    explicit TPXCommonFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLRImageSinkPin InputPin;
    TPXLRImageSourcePin OutputPin;

    // Runs one frame through the filter on the caller's thread, as the pipeline would (format
    // negotiation, disabled pass-through, processing); for hosts that apply a filter to a file
    // and for tests.
    IPXImageBuffer ProcessFrame(const IPXImageBuffer& frame);

protected:
    // A new input format. Filters return without calling the base for the formats they process
    // natively; the base makes every other format arrive as vfRGB24.
    virtual void SetVideoFormat(const IPXImageBuffer& buffer);
    // One frame: `out` arrives as a copy of `in` that shares its pixels until written; a filter
    // may also replace `out` with a new frame.
    virtual void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) = 0;
    // A disabled filter: the frame goes on unchanged.
    virtual void ProcessDisabled(const IPXImageBuffer& in, IPXImageBuffer& out) { out = in; }
    // Stream start and stop; overriding filters call the base.
    virtual void StreamStart(const TLRStartFrameOperation& start);
    virtual void StreamStop() {}
    // The start operation sent downstream for an input start (SetSizeRate): by default the same
    // size and duration in the format the filter delivers.
    virtual TLRStartFrameOperation OutputStart(const TLRStartFrameOperation& input);
    // The output frame handed to FilterInternalOperation: by default a copy of the input that
    // shares its pixels until written. Filters whose output differs in size or format make
    // their own.
    virtual IPXImageBuffer PrepareOutput(const IPXImageBuffer& in) { return TPXImageBuffer::CreateCopy(in); }
    // True when the filter may process its frame in place.
    virtual bool CanInline() const { return false; }

    void SinkDispatch(TQueuedOperation& op) override;

    // The format frames are processed in after negotiation.
    TPXVideoFormat ProcessingFormat(TPXVideoFormat input) const { return FConvertToDefault ? vfRGB24 : input; }

private:
    void Negotiate(TPXVideoFormat format, int width, int height);
    IPXImageBuffer Run(const IPXImageBuffer& frame);

    bool FFormatKnown = false;
    TPXVideoFormat FInputFormat = vfRGB24;
    bool FConvertToDefault = false;
};

// Picks the sample type of a format: uint16_t for vfGray16, uint8_t for every other format.
// Format dispatch happens once per frame, never per pixel.
template <class TFunc>
decltype(auto) ForSampleType(TPXVideoFormat format, TFunc&& func) {
    if (format == vfGray16) return func.template operator()<uint16_t>();
    return func.template operator()<uint8_t>();
}

}  // namespace pixora
