// Reads a still image or a video file and sends its frames, in the nearest native format
// (grey stays grey, 16-bit grey stays 16-bit, alpha stays alpha, everything else vfRGB24), with
// the file's time stamps and frame durations.
#pragma once

#include <memory>

#include "platform/filters/PXCommonGen.h"

namespace pixora {

class TAvMediaReader;

class TPXMediaFileSource final : public TPXCommonGen {
public:
    explicit TPXMediaFileSource(TComponent* owner = nullptr);
    ~TPXMediaFileSource() override;
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    std::string GetFileName() const { return ReadLocked(FFileName); }
    void SetFileName(std::string value) { SetPublished(&TPXMediaFileSource::FFileName, std::move(value)); }

    // Opens the file now (Start also does); raises EPXError naming the file when it cannot be read.
    void Open();
    int64_t GetFrameDuration() const override;

protected:
    TSize GetImageSize() const override;
    TPXVideoFormat GetVideoFormat() const override;
    bool GenerateFrame(IPXImageBuffer& frame) override;
    void IntStartStream() override;

private:
    void EnsureOpen() const;
    std::string FFileName;
    mutable std::unique_ptr<TAvMediaReader> FReader;
    mutable std::string FOpenedName;
    bool FReopen = false;
};

namespace PXMediaFileSource {
void RegisterPkg();
}

}  // namespace pixora
