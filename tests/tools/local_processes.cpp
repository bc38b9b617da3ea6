#include "tools/local_processes.h"

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace qelvo::test {

int freePort() {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

bool accepts(int port) {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool connected = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return connected;
}

std::optional<std::string> findProgram(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/local/sbin";
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    auto candidate = std::filesystem::path(dir) / name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return std::nullopt;
}

std::unique_ptr<BackgroundProcess> startNginx(const std::filesystem::path& dir,
                                              const std::string& http, int port) {
  auto nginx = findProgram("nginx");
  if (!nginx) return nullptr;
  std::filesystem::create_directories(dir);
  const auto* user = ::getpwuid(::geteuid());
  const std::string d = dir.string();
  writeFile(dir / "nginx.conf",
            "daemon off;\nworker_processes 1;\n"
            "user " + std::string(user ? user->pw_name : "nobody") + ";\n"
            "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log warn;\n"
            "events { worker_connections 256; }\n"
            "http {\n"
            "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n"
            "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n"
            "  scgi_temp_path " + d + "/scgi;\n" + http + "}\n");
  auto server = std::make_unique<BackgroundProcess>(
      std::vector<std::string>{*nginx, "-p", d + "/", "-e", d + "/error.log", "-c",
                               d + "/nginx.conf"},
      dir / "stdout.log");
  for (int i = 0; i < 500 && server->running() && !accepts(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return server;
}

}  // namespace qelvo::test
