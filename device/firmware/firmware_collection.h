#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>

#include "device/firmware/firmware.h"

namespace device {

/// The images of one firmware file, in order; a file of one image is a
/// collection of one. An upgrade sends the first image and removes it when the
/// device took it; the rest wait for the device to come back. Shared by the
/// device (kept for the continuation) and the upgrade worker, so every call
/// takes the collection's own lock.
class FirmwareCollection {
public:
    typedef boost::shared_ptr<IFirmware> Image;

    FirmwareCollection() = default;
    explicit FirmwareCollection(std::vector<Image> images);

    /// Splits a firmware file into its images. Throws exception::UserResponse
    /// "incorrectFirmware" ("Файл не является прошивкой") for an empty file,
    /// a frame without our header, a payload running past the end and bytes
    /// after the last image that are no whole image. Images whose version or
    /// CRC is wrong are kept: they report themselves not valid.
    static boost::shared_ptr<FirmwareCollection> parse(const std::string& file);

    /// The first image; empty when there is none.
    Image first() const;
    std::size_t size() const;
    void removeFirst();
    /// A copy of the images in order.
    std::vector<Image> images() const;

private:
    mutable boost::mutex m_lock;
    std::vector<Image> m_images;
};

}  // namespace device
