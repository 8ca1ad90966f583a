#include "e2e/whip_server.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>  // Janus's admin API answers in JSON; the library helperctl already uses
#include <sstream>

#include "standin_http.h"

extern char** environ;

namespace corvane::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kAdminSecret = "corvane-admin";
constexpr const char* kJanusInfo = "http://127.0.0.1:8088/janus/info";
constexpr const char* kAdminBase = "http://127.0.0.1:7088/admin";
constexpr int kReadyLimitMs = 20000;
constexpr int kStopLimitMs = 5000;

// One HTTP exchange; the status (0 when none came) and body.
struct Reply {
  unsigned status = 0;
  std::string body;
  std::string error;
};

Reply http(const char* method, const std::string& url, const char* content_type, const std::string& body) {
  StandinHttpResponse response;
  GError* error = nullptr;
  Reply reply;
  if (!standin_http_request(method, url.c_str(), content_type, content_type ? body.c_str() : nullptr, nullptr, 5,
                            nullptr, &response, &error)) {
    reply.error = error ? error->message : "request failed";
    g_clear_error(&error);
    return reply;
  }
  reply.status = response.status;
  reply.body.assign(response.body, response.body_length);
  standin_http_response_clear(&response);
  return reply;
}

std::optional<std::string> run(const std::string& command) {
  const int status = std::system(command.c_str());  // NOLINT(cert-env33-c): fixed iproute2 commands
  if (status != 0) {
    return "'" + command + "' failed with status " + std::to_string(status);
  }
  return std::nullopt;
}

std::optional<std::string> wait_ready(const ChildProcess& process, const std::string& url, const char* what) {
  Reply last;
  const bool ready = wait_until(
      [&] {
        last = http("GET", url, nullptr, {});
        return last.status == 200;
      },
      kReadyLimitMs);
  if (!ready) {
    return std::string(what) + " did not answer " + url + (process.running() ? "" : " (not running)") + ": " +
           (last.error.empty() ? "status " + std::to_string(last.status) : last.error);
  }
  return std::nullopt;
}

std::string tail(const std::string& path, std::size_t lines) {
  std::ifstream in(path);
  std::vector<std::string> all;
  for (std::string line; std::getline(in, line);) {
    all.push_back(line);
  }
  std::string text;
  for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) {
    text += all[i] + "\n";
  }
  return text;
}

json admin(const std::string& path, const char* request) {
  const json body = {{"janus", request}, {"transaction", "corvane"}, {"admin_secret", kAdminSecret}};
  const Reply reply = http("POST", std::string(kAdminBase) + path, "application/json", body.dump());
  if (reply.status != 200) {
    throw std::runtime_error(std::string("Janus admin ") + request + ": " +
                             (reply.error.empty() ? "status " + std::to_string(reply.status) : reply.error));
  }
  return json::parse(reply.body);
}

}  // namespace

std::optional<std::string> enter_private_network() {
  if (geteuid() != 0) {
    return "a network namespace needs root";
  }
  if (unshare(CLONE_NEWNET) != 0) {
    return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  }
  for (const char* command : {"ip link set lo up", "ip link add cv0 type veth peer name cv1",
                              "ip addr add 127.0.0.1/32 dev cv0", "ip link set cv0 up", "ip link set cv1 up"}) {
    if (auto error = run(command)) {
      return error;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ChildProcess::start(const std::vector<std::string>& argv,
                                               const std::vector<std::string>& extra_env, const std::string& log_path) {
  stop();
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    environment.emplace_back(*entry);
  }
  environment.insert(environment.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> env_pointers;
  for (auto& entry : environment) {
    env_pointers.push_back(entry.data());
  }
  env_pointers.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> arg_pointers;
  for (auto& arg : args) {
    arg_pointers.push_back(arg.data());
  }
  arg_pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int result = posix_spawnp(&pid, arg_pointers[0], &actions, nullptr, arg_pointers.data(), env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    return "could not start " + argv[0] + ": " + std::strerror(result);
  }
  pid_ = pid;
  return std::nullopt;
}

bool ChildProcess::signal(int number) const { return pid_ > 0 && kill(pid_, number) == 0; }

void ChildProcess::stop() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  int status = 0;
  const bool ended = wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, kStopLimitMs);
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

WhipServer::WhipServer() {
  char pattern[] = "/tmp/corvane-whip-XXXXXX";
  const char* made = mkdtemp(pattern);
  work_dir_ = made ? made : "/tmp";
}

WhipServer::~WhipServer() {
  whip_.stop();
  janus_.stop();
  if (work_dir_ != "/tmp") {
    std::error_code ignored;
    fs::remove_all(work_dir_, ignored);
  }
}

std::optional<std::string> WhipServer::start_janus() {
  const std::string config_dir = std::string(CORVANE_E2E_DIR) + "/janus";
  if (auto error = janus_.start({"janus", "-F", config_dir, "-C", config_dir + "/janus.jcfg", "-o"}, {},
                                work_dir_ + "/janus.log")) {
    return error;
  }
  return wait_ready(janus_, kJanusInfo, "Janus");
}

std::optional<std::string> WhipServer::start_whip(const std::vector<WhipEndpoint>& endpoints) {
  const fs::path package(CORVANE_WHIP_SERVER_DIR);
  const fs::path sources = package / "usr/share/simple-whip-server/src";
  if (!fs::exists(sources / "server.js")) {
    return "simple-whip-server is not unpacked in " + package.string() + " (scripts/bootstrap does it)";
  }
  // The server loads ./config.js beside itself: its files are copied next to ours.
  const fs::path dir = fs::path(work_dir_) / "whip";
  std::error_code error;
  fs::create_directories(dir, error);
  for (const char* name : {"server.js", "whip-janus.js"}) {
    fs::copy_file(sources / name, dir / name, fs::copy_options::overwrite_existing, error);
    if (error) {
      return "could not copy " + std::string(name) + ": " + error.message();
    }
  }
  std::ofstream(dir / "config.js") << "module.exports = {\n"
                                   << "  janus: { address: 'ws://127.0.0.1:8188' },\n"
                                   << "  port: " << kWhipPort << ",\n"
                                   << "  rest: '/whip',\n"
                                   << "  allowTrickle: true,\n"
                                   << "  strictETags: false,\n"
                                   << "  iceServers: []\n"
                                   << "};\n";
  const std::string node_path = "NODE_PATH=" + (package / "usr/share/nodejs").string() + ":" +
                                (package / "usr/lib/x86_64-linux-gnu/nodejs").string();
  if (auto failed = whip_.start(
          {"node", "--require", std::string(CORVANE_E2E_DIR) + "/whip/loopback.js", (dir / "server.js").string()},
          {node_path, "CORVANE_WHIP_SETUP_PORT=" + std::to_string(kSetupPort)}, work_dir_ + "/whip.log")) {
    return failed;
  }
  const std::string setup = "http://127.0.0.1:" + std::to_string(kSetupPort) + "/whip";
  if (auto not_ready = wait_ready(whip_, setup + "/healthcheck", "The WHIP server")) {
    return not_ready;
  }
  for (const WhipEndpoint& endpoint : endpoints) {
    json body = {{"id", endpoint.id}, {"room", kRoom}};
    if (!endpoint.token.empty()) {
      body["token"] = endpoint.token;
    }
    const Reply reply = http("POST", setup + "/create", "application/json", body.dump());
    if (reply.status != 200) {
      return "creating endpoint " + endpoint.id + ": " +
             (reply.error.empty() ? std::to_string(reply.status) + " " + reply.body : reply.error);
    }
  }
  if (!whip_.signal(SIGUSR2)) {
    return "could not open the WHIP server's port: " + std::string(std::strerror(errno));
  }
  return wait_ready(whip_, "http://127.0.0.1:" + std::to_string(kWhipPort) + "/whip/healthcheck", "The WHIP server");
}

void WhipServer::stop_whip() { whip_.stop(); }

std::string WhipServer::whip_url() { return "http://localhost:" + std::to_string(kWhipPort) + "/whip/endpoint"; }

std::optional<std::string> WhipServer::publisher_traffic(PublisherTraffic& traffic) const {
  traffic = {};
  try {
    const json sessions = admin("", "list_sessions");
    for (const auto& session : sessions.at("sessions")) {
      const std::string session_path = "/" + std::to_string(session.get<std::uint64_t>());
      const json handles = admin(session_path, "list_handles");
      for (const auto& handle : handles.at("handles")) {
        const auto id = handle.get<std::uint64_t>();
        const json info = admin(session_path + "/" + std::to_string(id), "handle_info").at("info");
        if (info.value("plugin", "") != "janus.plugin.videoroom" || !info.contains("webrtc") ||
            !info["webrtc"].contains("media")) {
          continue;
        }
        bool received = false;
        for (const auto& [mid, media] : info["webrtc"]["media"].items()) {
          const json in = media.value("stats", json::object()).value("in", json::object());
          const auto packets = in.value("packets", std::uint64_t{0});
          received = received || packets > 0;
          if (media.value("type", "") == "video") {
            traffic.video_packets += packets;
            traffic.video_bytes += in.value("bytes", std::uint64_t{0});
            const json rtcp = media.value("rtcp", json::object()).value("main", json::object());
            traffic.video_lost += rtcp.value("lost", std::uint64_t{0});
          } else if (media.value("type", "") == "audio") {
            traffic.audio_packets += packets;
          }
        }
        if (received) {
          traffic.handles.push_back(id);
        }
      }
    }
  } catch (const std::exception& error) {
    return error.what();
  }
  return std::nullopt;
}

std::string WhipServer::log_tail() const {
  return "--- Janus\n" + tail(work_dir_ + "/janus.log", 15) + "--- WHIP server\n" + tail(work_dir_ + "/whip.log", 15);
}

}  // namespace corvane::e2e
