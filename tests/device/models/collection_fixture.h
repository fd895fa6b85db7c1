#pragma once
// A device collection's surroundings over real UDP: the dispatcher, a running
// transport and simulator per test, and the collection the test makes, all
// stopped in the right order. Tests that use it open sockets (label net).
#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "tests/support/counting_log_fixture.h"
#include "tools/simulator/simulator.h"

class CollectionFixture : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE);
        base::ThreadDispatcher::create();
        transport = boost::make_shared<device::TransferProtocol>(0, "");
        transport->run();
        simulator.start();
    }
    void TearDown() override {
        if (collection) collection->stop();
        transport->stop();
        simulator.stop();
        collection.reset();
        base::ThreadDispatcher::destroy();
        CountingLogFixture::TearDown();
    }

    /// The hardware address of the simulator's device number n.
    static net::HardwareAddress hw(unsigned n) {
        return net::HardwareAddress(device::sim::Simulator::hardwareAddress(n));
    }
    /// Where the simulated devices send their state packets.
    device::sim::Endpoint server() const {
        return device::sim::Endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort());
    }

    boost::shared_ptr<device::TransferProtocol> transport;
    device::sim::Simulator simulator{2};
    boost::shared_ptr<device::DeviceCollection> collection;
};
