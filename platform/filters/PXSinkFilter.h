// The base of filters that consume frames and emit something other than video (histograms,
// real-valued planes): one image input, processed on the filter's thread or inline.
#pragma once

#include "platform/filters/PXThreadedFilter.h"
#include "platform/image/PXImageBuffer.h"

namespace pixora {

class TPXSinkFilter : public TQNBasicTypedThreadedEnableFilter {
public:
    explicit TPXSinkFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXLRImageSinkPin InputPin;

protected:
    // A video stream starts (its size, format and frame duration).
    virtual void VideoStreamStart(const TLRStartFrameOperation& start) {}
    // One frame, while the filter is enabled.
    virtual void ProcessImage(const IPXImageBuffer& frame) = 0;
    // The stream ended; `aborted` when it ended by a failure upstream.
    virtual void VideoStreamStop(bool aborted) {}

    void SinkDispatch(TQueuedOperation& op) override;
};

}  // namespace pixora
