// Writes the frames it receives to a single image, a numbered image sequence ("%04d" in the
// name) or a raw Y4M video. Files appear under their final names only when complete.
#pragma once

#include <memory>

#include "platform/filters/PXBasicVideoOut.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/kernels/View.h"

namespace pixora {

class TAvMediaWriter;

class TPXMediaFileSink final : public TPXBasicVideoOut {
public:
    explicit TPXMediaFileSink(TComponent* owner = nullptr);
    ~TPXMediaFileSink() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    std::string GetFileName() const { return ReadLocked(FFileName); }
    void SetFileName(std::string value) { SetPublished(&TPXMediaFileSink::FFileName, std::move(value)); }

    bool IsFinished() const override;
    int64_t FramesWritten() const;
    // The files written by the last finished stream.
    std::vector<std::string> WrittenFiles() const;
    std::string Summary() const override;

protected:
    bool InputDispatch(TLRSinkPin& pin, const ILRNotifyOperation& op) override;

private:
    void WriteFrame(const IPXImageBuffer& frame);
    void Finish();

    std::string FFileName;
    mutable std::mutex FWriteMutex;
    std::unique_ptr<TAvMediaWriter> FWriter;
    TSize FWriterSize{};
    TPXVideoFormat FWriterFormat = vfRGB24;
    int64_t FStreamDuration = 0;
    int64_t FFramesWritten = 0;
    bool FStreaming = false;
    bool FFailed = false;
    std::vector<std::string> FWrittenFiles;
};

namespace PXMediaFileSink {
void RegisterPkg();
}

}  // namespace pixora
