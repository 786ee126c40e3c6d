// trellis preview's server, driven by raw HTTP requests over loopback: only
// its own address may drive it, it has its port to itself, bodies are
// bounded, stills stay in the save folder and the view transform stays on
// the page.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/failure.h"
#include "cli/preview_command.h"
#include "footage/image_io.h"
#include "preview/preview.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

// Sends `request` as it is to `address` and reads the answer until the
// server closes.
std::string round_trip(int port, const std::string& request, const char* to = "127.0.0.1") {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    timeval limit{30, 0};  // a server that never answers fails the test
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, to, &address.sin_addr);
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

std::string body_of(const std::string& answer) {
    const std::size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

std::string get(int port, const std::string& target, const std::string& headers, const char* address = "127.0.0.1") {
    return round_trip(port, "GET " + target + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n", address);
}

// The message of the Failure bind_preview throws; empty when it binds.
std::string bind_failure(const cli::PreviewArgs& args) {
    try {
        cli::PreviewServer server(cli::preview_config(args));
        cli::bind_preview(server, args);
    } catch (const cli::Failure& e) {
        return e.what();
    }
    return {};
}

class PreviewServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("trellis_preview_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "stills");
        start(args());
    }
    void TearDown() override {
        stop();
        fs::remove_all(root_);
    }

    cli::PreviewArgs args() const {
        cli::PreviewArgs a;
        a.scene.input_size = "32x24";
        a.scene.plugin = TRELLIS_MODULE_PATH;
        a.save_dir = (root_ / "stills").string();
        return a;
    }
    void start(const cli::PreviewArgs& a) {
        server_ = std::make_unique<cli::PreviewServer>(cli::preview_config(a));
        port_ = server_->bind();
        thread_ = std::thread([this] { server_->serve(); });
    }
    void stop() {
        if (!thread_.joinable()) return;
        server_->stop();
        thread_.join();
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
        // Bound to one address, the others of the machine are not its own.
        {"Host: 127.0.0.2:" + port + "\r\n", 403},
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

namespace {

TEST_F(PreviewServerTest, APortInUseIsRefusedAndOneLeftIsTakenAgain) {
    ASSERT_EQ(request("GET", "/api/params", "Host: " + own() + "\r\n"), 200);
    cli::PreviewArgs same = args();
    same.port = port_;
    const std::string port = std::to_string(port_);
    EXPECT_EQ(bind_failure(same), "--port " + port + ": 127.0.0.1:" + port +
                                      " is in use (another trellis preview, or another program, listens there)");
    same.host = "0.0.0.0";
    EXPECT_EQ(bind_failure(same), "--port " + port + ": 0.0.0.0:" + port +
                                      " is in use (another trellis preview, or another program, listens there)");
    // The answered request leaves the port waiting out its close; a new
    // server takes it all the same.
    stop();
    same.host = "127.0.0.1";
    start(same);
    EXPECT_EQ(port_, std::stoi(port));
    EXPECT_EQ(request("GET", "/api/params", "Host: " + own() + "\r\n"), 200);
}

TEST_F(PreviewServerTest, BoundToEveryAddressAnyOwnAddressMayDriveIt) {
    stop();
    cli::PreviewArgs every = args();
    every.host = "0.0.0.0";
    start(every);
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const std::string port = ":" + std::to_string(port_);
    const std::string other_port = ":" + std::to_string(port_ == 65535 ? 1 : port_ + 1);
    const struct {
        std::string headers;
        int status;
    } cases[] = {
        {"Host: 127.0.0.2" + port + "\r\n", 200},  // another address of this machine
        {"Host: 127.0.0.2" + port + "\r\nOrigin: http://127.0.0.2" + port + "\r\n", 200},
        {"Host: 127.0.0.1" + port + "\r\n", 200},
        {"Host: 0.0.0.0" + port + "\r\n", 200},
        {"Host: " + std::string(name) + port + "\r\n", 200},
        {"Host: 192.0.2.1" + port + "\r\n", 403},  // reserved for documentation: no machine's
        {"Host: attacker.example" + port + "\r\n", 403},
        {"Host: 127.0.0.2" + other_port + "\r\n", 403},
        {"Host: 127.0.0.2\r\n", 403},
        {"Host: 127.0.0.2" + port + "\r\nOrigin: http://attacker.example\r\n", 403},
        {"Host: 127.0.0.2" + port + "\r\nOrigin: http://127.0.0.1" + port + "\r\n", 403},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_of(get(port_, "/api/params", c.headers, "127.0.0.2")), c.status) << c.headers;
    }
}

// The first pixel of a PNG answer.
PF_Pixel8 first_pixel(const std::string& answer) {
    const std::string png = body_of(answer);
    return cli::read_image_memory(png.data(), png.size(), "answer.png").get<PF_Pixel8>().front();
}

TEST_F(PreviewServerTest, TheViewTransformShowsLinearValuesInSrgbAndSavedStillsKeepThem) {
    EXPECT_NE(body_of(get(port_, "/api/state", "Host: " + own() + "\r\n"))
                  .find(R"("view_transform":{"available":true,"on":false})"),
              std::string::npos);
    stop();
    cli::PreviewArgs linear = args();
    linear.scene.input_color = "40,90,160,255";
    linear.scene.input_colorspace = "sRGB";
    linear.scene.working_colorspace = "linear";
    linear.scene.depth = "32";
    start(linear);
    EXPECT_NE(body_of(get(port_, "/api/state", "Host: " + own() + "\r\n"))
                  .find(R"("view_transform":{"available":true,"on":true})"),
              std::string::npos);

    auto render = [&](const char* body) {
        return round_trip(port_, "POST /api/render HTTP/1.1\r\nHost: " + own() + "\r\nConnection: close\r\n" +
                                     "Content-Length: " + std::to_string(std::strlen(body)) + "\r\n\r\n" + body);
    };
    const PF_Pixel8 as_stored = first_pixel(render(R"({"view":"input"})"));
    const PF_Pixel8 viewed = first_pixel(render(R"({"view":"input","view_transform":true})"));
    EXPECT_LT(as_stored.red, 10);  // 40 in sRGB is 0.021 in linear light
    EXPECT_NEAR(viewed.red, 40, 1);
    EXPECT_NEAR(viewed.green, 90, 1);
    EXPECT_NEAR(viewed.blue, 160, 1);
    EXPECT_EQ(status_of(render(R"({"view_transform":1})")), 400);

    EXPECT_EQ(save(R"({"format":"png","name":"plain"})"), 200);
    EXPECT_EQ(save(R"({"format":"png","name":"viewed","view_transform":true})"), 200);
    EXPECT_EQ(test_support::slurp(root_ / "stills" / "plain.png"), test_support::slurp(root_ / "stills" / "viewed.png"));
}

}  // namespace
