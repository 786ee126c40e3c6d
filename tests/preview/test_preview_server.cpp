// trellis preview's server, driven by raw HTTP requests over loopback: only
// its own address may drive it, bodies are bounded and stills stay in the
// save folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "cli/preview_command.h"

namespace {

namespace fs = std::filesystem;

// Sends `request` as it is and reads the answer until the server closes.
std::string round_trip(int port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    timeval limit{30, 0};  // a server that never answers fails the test
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

int status_of(const std::string& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 && answer.size() >= 12 ? std::stoi(answer.substr(9, 3)) : 0;
}

class PreviewServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("trellis_preview_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "stills");
        cli::PreviewArgs args;
        args.scene.input_size = "32x24";
        args.scene.plugin = TRELLIS_MODULE_PATH;
        args.save_dir = (root_ / "stills").string();
        server_ = std::make_unique<cli::PreviewServer>(cli::preview_config(args));
        port_ = server_->bind();
        thread_ = std::thread([this] { server_->serve(); });
    }
    void TearDown() override {
        server_->stop();
        thread_.join();
        fs::remove_all(root_);
    }

    std::string own() const { return "127.0.0.1:" + std::to_string(port_); }

    int request(const std::string& method, const std::string& target, const std::string& headers,
                const std::string& body = "") {
        return status_of(round_trip(port_, method + " " + target + " HTTP/1.1\r\n" + headers +
                                             "Connection: close\r\nContent-Length: " + std::to_string(body.size()) +
                                             "\r\n\r\n" + body));
    }
    int save(const std::string& body) { return request("POST", "/api/save", "Host: " + own() + "\r\n", body); }

    // Every file under the temporary root, relative to it.
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(root_)) {
            if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root_).string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path root_;
    std::unique_ptr<cli::PreviewServer> server_;
    std::thread thread_;
    int port_ = 0;
};

TEST_F(PreviewServerTest, OnlyItsOwnHostAndOriginMayDriveIt) {
    const std::string port = std::to_string(port_);
    const std::string other_port = std::to_string(port_ == 65535 ? 1 : port_ + 1);
    const struct {
        std::string headers;
        int status;
    } cases[] = {
        {"Host: 127.0.0.1:" + port + "\r\n", 200},
        {"Host: localhost:" + port + "\r\n", 200},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:" + port + "\r\n", 200},
        // A rebound name reaches the same socket with its own Host.
        {"Host: attacker.example:" + port + "\r\n", 403},
        {"Host: 127.0.0.1:" + other_port + "\r\n", 403},
        {"Host: 127.0.0.1\r\n", 403},
        {"", 403},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://attacker.example\r\n", 403},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: http://127.0.0.1:" + other_port + "\r\n", 403},
        {"Host: 127.0.0.1:" + port + "\r\nOrigin: null\r\n", 403},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(request("GET", "/api/params", c.headers), c.status) << c.headers;
    }
    // Refused before anything runs: a forged save writes nothing.
    EXPECT_EQ(request("POST", "/api/save", "Host: attacker.example:" + port + "\r\n", R"({"format":"png"})"), 403);
    EXPECT_EQ(request("POST", "/api/save", "Host: " + own() + "\r\nOrigin: http://attacker.example\r\n",
                      R"({"format":"png"})"),
              403);
    EXPECT_TRUE(files().empty());
}

TEST_F(PreviewServerTest, BodiesAreBounded) {
    EXPECT_EQ(request("POST", "/api/render", "Host: " + own() + "\r\n", std::string(2 << 20, ' ')), 413);
    // Well-formed requests of ordinary size still render.
    EXPECT_EQ(request("POST", "/api/render", "Host: " + own() + "\r\n", R"({"downsample":2})"), 200);
}

TEST_F(PreviewServerTest, StillsAreWrittenInsideTheSaveFolderOnly) {
    // As JSON string contents.
    for (const char* name : {"../escape", "../../escape.png", "/tmp/absolute.png", "sub/still.png", "..", ".hidden",
                             R"(a\\b.png)", "x..png"}) {
        EXPECT_EQ(save(std::string(R"({"format":"png","name":")") + name + "\"}"), 400) << name;
    }
    EXPECT_TRUE(files().empty());

    EXPECT_EQ(save(R"({"format":"png","name":"shot"})"), 200);
    EXPECT_EQ(save(R"({"format":"exr","name":"shot.EXR"})"), 200);
    EXPECT_EQ(save(R"({"format":"png"})"), 200);
    EXPECT_EQ(save(R"({"format":"png"})"), 200);  // a fresh name, the first one kept
    EXPECT_EQ(save(R"({"format":"tiff"})"), 400);
    EXPECT_EQ(files(), (std::vector<std::string>{"stills/preview_0.png", "stills/preview_0_2.png", "stills/shot.EXR",
                                                 "stills/shot.png"}));
}

}  // namespace
