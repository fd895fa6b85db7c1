#include "device/firmware/firmware_sender.h"

#include <algorithm>
#include <iterator>

#include <boost/algorithm/hex.hpp>

#include "base/exception.h"
#include "base/log.h"
#include "device/command.h"

namespace device {

FirmwareSender::FirmwareSender(Exchange exchange, Progress progress)
    : m_exchange(std::move(exchange)), m_progress(std::move(progress)) {}

std::string FirmwareSender::beginCommand(const IFirmware& image) {
    return formatCommand("fw begin %llX %zu %08X", static_cast<unsigned long long>(image.getVersion().typeCode),
                         image.getPayload().size(), static_cast<unsigned>(image.getCrc()));
}

std::string FirmwareSender::dataCommand(std::size_t offset, const std::string& payload) {
    const std::size_t size = offset < payload.size() ? std::min(kChunkSize, payload.size() - offset) : 0;
    std::string command = "fw data " + std::to_string(offset) + " ";
    command.reserve(command.size() + 2 * size);
    boost::algorithm::hex(payload.begin() + offset, payload.begin() + offset + size, std::back_inserter(command));
    return command;
}

void FirmwareSender::exchange(const std::string& request) {
    for (int attempt = 0;; ++attempt) {
        std::string reply;
        try {
            reply = m_exchange(request);
        } catch (const exception::Offline&) {
            if (attempt == kRetries) throw;
            LOG_DEBUG(L"No answer to a firmware command, asking again (%1%)", attempt + 1);
            continue;
        }
        // handleResponse throws for "ERR..."; data where "OK" belongs is as bad.
        if (!handleResponse(reply)) throw exception::UnexpectedResponseOfDevice(reply);
        return;
    }
}

void FirmwareSender::send(const IFirmware& image) {
    const std::string& payload = image.getPayload();
    exchange(beginCommand(image));
    int reported = 0;
    for (std::size_t offset = 0; offset < payload.size(); offset += kChunkSize) {
        exchange(dataCommand(offset, payload));
        const std::size_t sent = std::min(payload.size(), offset + kChunkSize);
        const int percent = static_cast<int>(99 * static_cast<unsigned long long>(sent) / payload.size());
        if (percent > reported && m_progress) {
            reported = percent;
            m_progress(percent);
        }
    }
    exchange(endCommand());
}

}  // namespace device
