// The file source decodes through libav, one frame per generator step.
#include "io/PXMediaFileSource.h"

#include "io/AvMedia.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXMediaFileSource::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXMediaFileSource, TPXCommonGen>("TPXMediaFileSource", {
        String("FileName", &TPXMediaFileSource::FFileName, {.DisplayName = "Media file to read"}),
    });
    return table;
}

TPXMediaFileSource::TPXMediaFileSource(TComponent* owner) : TPXCommonGen(owner) { AutoInitProperties(Properties()); }

TPXMediaFileSource::~TPXMediaFileSource() { Stop(); }

void TPXMediaFileSource::EnsureOpen() const {
    const std::string name = ReadLocked(FFileName);
    if (FReader && name == FOpenedName) return;
    if (name.empty()) throw EPXError(GetDisplayPath() + ": FileName is empty; name a media file to read");
    try {
        FReader = std::make_unique<TAvMediaReader>(name);
        FOpenedName = name;
    } catch (const TAvError& e) {
        FReader.reset();
        throw EPXError(e.what());
    }
}

void TPXMediaFileSource::Open() { EnsureOpen(); }

void TPXMediaFileSource::IntStartStream() {
    // Every stream reads the file from its start.
    if (FReopen) FReader.reset();
    FReopen = true;
    EnsureOpen();
}

int64_t TPXMediaFileSource::GetFrameDuration() const {
    EnsureOpen();
    return FReader->IsStillImage() ? TPXCommonGen::GetFrameDuration() : FReader->FrameDuration();
}

TSize TPXMediaFileSource::GetImageSize() const {
    EnsureOpen();
    return {FReader->Width(), FReader->Height()};
}

TPXVideoFormat TPXMediaFileSource::GetVideoFormat() const {
    EnsureOpen();
    return FReader->Format();
}

bool TPXMediaFileSource::GenerateFrame(IPXImageBuffer& frame) {
    EnsureOpen();
    TAvFrameInfo info;
    try {
        if (!FReader->ReadFrame(frame->GetWritePointer(), frame->GetLineSize(), info)) return false;
    } catch (const TAvError& e) {
        throw EPXError(e.what());
    }
    frame->SetTimeStamp({true, info.Start, info.Start + info.Duration});
    return true;
}

void PXMediaFileSource::RegisterPkg() {
    RegisterComponents<TPXMediaFileSource>({"TPixoraInputToolbarCategory"}, "Media File Source");
}

}  // namespace pixora
