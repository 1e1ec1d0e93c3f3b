// The file sink opens its writer on the first frame and completes the file at stream stop; a
// failure aborts the file so that nothing half-written is left under the final name.
#include "io/PXMediaFileSink.h"

#include "io/AvMedia.h"
#include "platform/image/PXImageBuffer.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXMediaFileSink::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMediaFileSink, TPXBasicVideoOut>("TPXMediaFileSink", {
        String("FileName", &TPXMediaFileSink::FFileName, {.DisplayName = "File to write (%04d for a sequence)"}),
    });
    return table;
}

TPXMediaFileSink::TPXMediaFileSink(TComponent* owner) : TPXBasicVideoOut(owner) { AutoInitProperties(Properties()); }

TPXMediaFileSink::~TPXMediaFileSink() {
    std::lock_guard lock(FWriteMutex);
    FWriter.reset();  // an unfinished file is removed
}

bool TPXMediaFileSink::IsFinished() const {
    std::lock_guard lock(FWriteMutex);
    return !FStreaming;
}

int64_t TPXMediaFileSink::FramesWritten() const {
    std::lock_guard lock(FWriteMutex);
    return FFramesWritten;
}

std::vector<std::string> TPXMediaFileSink::WrittenFiles() const {
    std::lock_guard lock(FWriteMutex);
    return FWrittenFiles;
}

std::string TPXMediaFileSink::Summary() const {
    std::lock_guard lock(FWriteMutex);
    if (FWrittenFiles.empty()) return {};
    std::string text = std::to_string(FFramesWritten) + (FFramesWritten == 1 ? " frame -> " : " frames -> ");
    text += FWrittenFiles.front();
    if (FWrittenFiles.back() != FWrittenFiles.front()) text += " ... " + FWrittenFiles.back();
    return text;
}

void TPXMediaFileSink::WriteFrame(const IPXImageBuffer& input) {
    IPXImageBuffer frame = input;
    if (!FWriter) {
        const std::string name = ReadLocked(FFileName);
        if (name.empty()) throw EPXError(GetDisplayPath() + ": FileName is empty; name a file to write");
        const int64_t duration = FStreamDuration > 0 ? FStreamDuration : std::max<int64_t>(1, frame->GetTimeStamp().End - frame->GetTimeStamp().Start);
        FWriter = std::make_unique<TAvMediaWriter>(name, frame->GetWidth(), frame->GetHeight(), frame->GetFormat(),
                                                   duration > 0 ? duration : 400000);
        FWriterSize = frame->GetSize();
        FWriterFormat = frame->GetFormat();
        FWrittenFiles.clear();
    }
    if (frame->GetWidth() != FWriterSize.Width || frame->GetHeight() != FWriterSize.Height)
        throw EPXError(GetDisplayPath() + ": frame size changed from " + std::to_string(FWriterSize.Width) + "x" +
                       std::to_string(FWriterSize.Height) + " to " + std::to_string(frame->GetWidth()) + "x" +
                       std::to_string(frame->GetHeight()) + " within one stream");
    if (frame->GetFormat() != FWriterFormat) {
        frame = TPXImageBuffer::CreateCopy(input);
        frame->ConvertToFormat(FWriterFormat);
    }
    FWrittenFiles.push_back(FWriter->OutputName(FWriter->FramesWritten()));
    FWriter->WriteFrame(frame->GetReadPointer(), frame->GetLineSize(), frame->GetTimeStamp().Start);
    ++FFramesWritten;
}

void TPXMediaFileSink::Finish() {
    if (FWriter && !FFailed) {
        FWriter->Close();
        FWriter.reset();
    }
    FWriter.reset();
    FStreaming = false;
}

bool TPXMediaFileSink::InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) {
    std::lock_guard lock(FWriteMutex);
    try {
        switch (op.Kind()) {
        case TOperationKind::StartFrame:
            FWriter.reset();
            FStreamDuration = static_cast<const TLRStartFrameOperation&>(op).FrameDuration;
            FFramesWritten = 0;
            FStreaming = true;
            FFailed = false;
            FWrittenFiles.clear();
            return true;
        case TOperationKind::SuppliedBuffer:
            if (FFailed) return false;
            WriteFrame(TPXImageBuffer::CreateUniversal(static_cast<const TLRSuppliedBufferOperation&>(op).Data));
            return true;
        case TOperationKind::Stop:
            if (static_cast<const TLRStopOperation&>(op).Aborted) {
                FWriter.reset();  // abandoned: the writer removes its partial output
                FWrittenFiles.clear();
                FStreaming = false;
                return true;
            }
            Finish();
            return true;
        default: return false;
        }
    } catch (const std::exception& e) {
        // The stream's file is abandoned: the writer removes what it had written.
        FFailed = true;
        FWriter.reset();
        FWrittenFiles.clear();
        if (op.Kind() == TOperationKind::Stop) FStreaming = false;
        ReportError(e.what());
        return false;
    }
}

void PXMediaFileSink::RegisterPkg() {
    RegisterComponents<TPXMediaFileSink>({"TPixoraOutputToolbarCategory"}, "Media File Sink");
}

}  // namespace pixora
