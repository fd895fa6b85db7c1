#include "device/firmware/firmware_collection.h"

#include <boost/make_shared.hpp>
#include <boost/thread/locks.hpp>

#include "base/exception.h"
#include "device/firmware/firmware_image.h"

namespace device {

typedef boost::lock_guard<boost::mutex> Lock;

FirmwareCollection::FirmwareCollection(std::vector<Image> images) : m_images(std::move(images)) {}

boost::shared_ptr<FirmwareCollection> FirmwareCollection::parse(const std::string& file) {
    std::vector<Image> images;
    std::size_t offset = 0;
    while (offset < file.size()) {
        const std::size_t size = FirmwareImage::frameSize(file, offset);
        if (size == 0) throw exception::UserResponse(L"incorrectFirmware", L"Файл не является прошивкой");
        images.push_back(boost::make_shared<FirmwareImage>(file.substr(offset, size)));
        offset += size;
    }
    if (images.empty()) throw exception::UserResponse(L"incorrectFirmware", L"Файл не является прошивкой");
    return boost::make_shared<FirmwareCollection>(std::move(images));
}

FirmwareCollection::Image FirmwareCollection::first() const {
    Lock lock(m_lock);
    return m_images.empty() ? Image() : m_images.front();
}

std::size_t FirmwareCollection::size() const {
    Lock lock(m_lock);
    return m_images.size();
}

void FirmwareCollection::removeFirst() {
    Lock lock(m_lock);
    if (!m_images.empty()) m_images.erase(m_images.begin());
}

std::vector<FirmwareCollection::Image> FirmwareCollection::images() const {
    Lock lock(m_lock);
    return m_images;
}

}  // namespace device
