// ctest-labels: net
// in_vlc playing internet radio served over HTTP from 127.0.0.1.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/support/fake_plugin_host.h"
#include "tests/support/temp_dir.h"
#include "tests/support/vlc_plugin_check.h"

using namespace testing_support;

namespace {

/// Serves one body to every GET on 127.0.0.1, one connection at a time,
/// until destroyed.
class TinyHttpServer {
public:
    explicit TinyHttpServer(std::string body) : m_body(std::move(body)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof local;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), size);
        ::listen(m_fd, 4);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
        m_port = ntohs(local.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~TinyHttpServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    unsigned port() const { return m_port; }
    int requests() const { return m_requests; }

private:
    void run() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string request;
            char buffer[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd c{client, POLLIN, 0};
                if (::poll(&c, 1, 2000) <= 0) break;
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            ++m_requests;
            const std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + m_body;
            size_t sent = 0;
            while (sent < reply.size() && !m_stop) {
                const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            ::close(client);
        }
    }

    std::string m_body;
    int m_fd = -1;
    unsigned m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

}  // namespace

TEST(InVlcStream, PlaysAnHttpStationToItsEnd) {
    TempDir dir("sonvar-in-vlc-stream");
    const std::string mp3 = dir.path() + "/station.mp3";
    ASSERT_TRUE(stream_probe::write_mp3(mp3, vlcTestPcm(), 44100, 1));
    TinyHttpServer server(readFile(mp3));
    FakePluginHost host(productPlugin("in_vlc.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();

    // No file extension in the address: the host routes it here by default.
    std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/live";
    ASSERT_EQ(host.module()->Play(&url[0]), 0);
    ASSERT_TRUE(host.waitEof(20000));
    EXPECT_GE(server.requests(), 1);
    EXPECT_EQ(host.openRate, 44100);
    expectTonesInOrder(host.pcm(), host.openChannels);

    char title[2048] = {};
    int length = 0;
    host.module()->GetFileInfo(nullptr, title, &length);
    EXPECT_NE(std::string(title), "");
    host.module()->Stop();
    EXPECT_EQ(host.closes, 1);
}

TEST(InVlcStream, AnUnreachableStationEndsTheItem) {
    FakePluginHost host(productPlugin("in_vlc.so"));
    ASSERT_NE(host.module(), nullptr) << host.loadError();
    unsigned freePort = 0;
    {
        TinyHttpServer probe("");  // a port that was free a moment ago
        freePort = probe.port();
    }
    std::string url = "http://127.0.0.1:" + std::to_string(freePort) + "/radio.mp3";
    ASSERT_EQ(host.module()->Play(&url[0]), 0);  // libvlc connects asynchronously
    ASSERT_TRUE(host.waitEof(20000));
    EXPECT_TRUE(host.pcm().empty());
    EXPECT_EQ(host.opens, 0);
    host.module()->Stop();
    EXPECT_EQ(host.closes, 0);
}
