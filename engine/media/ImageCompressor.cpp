// Photos to HEIC through the video compressor's replacement routine: the HEIC copy is made
// beside the photo under a hidden name, checked, and takes the photo's name with the extension
// "heic" once the photo is in the Trash.
#include "VideoCompressor.h"

namespace vp {

Result<CompressionReport, CompressionRefusal> VideoCompressor::compressImages(const ImageCompressionPlan& plan,
                                                                              const CompressionApproval& approval,
                                                                              const CancellationFlag& cancel,
                                                                              const Progress& progress) const {
    std::vector<Planned> files;
    for (const ImageItem& image : plan.images)
        files.push_back({image.path, image.snapshot.size, [&image](const std::function<void(double)>&) {
                             return Job{image.path, image.snapshot, image.target(),
                                        [&](const std::string& temporary) { return ImageEncoder::write(image.path, temporary); },
                                        [&](const std::string& temporary) {
                                            return ImageEncoder::verify(temporary, image.path, image.snapshot.size);
                                        }};
                         }});
    return run(plan.id, approval, plan.roots, files, cancel, progress);
}

} // namespace vp
