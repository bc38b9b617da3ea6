#include "support/loopback_server.h"

#include <stdexcept>
#include <utility>

namespace qelvo::test {
namespace {

// httplib runs each accepted connection as one task of its queue: counting the tasks
// counts the connections.
class CountingThreadPool : public httplib::ThreadPool {
 public:
  CountingThreadPool(std::size_t threads, std::shared_ptr<std::atomic<std::size_t>> count)
      : httplib::ThreadPool(threads), count_(std::move(count)) {}

  void enqueue(std::function<void()> task) override {
    ++*count_;
    httplib::ThreadPool::enqueue(std::move(task));
  }

 private:
  std::shared_ptr<std::atomic<std::size_t>> count_;
};

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
  auto found = headers.find(name);
  return found == headers.end() ? std::string() : found->second;
}

LoopbackServer::LoopbackServer(Options options)
    : connectionCount_(std::make_shared<std::atomic<std::size_t>>(0)) {
  if (options.certificateFile && options.privateKeyFile) {
    server_ = std::make_unique<httplib::SSLServer>(options.certificateFile->c_str(),
                                                   options.privateKeyFile->c_str());
    tls_ = true;
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (!server_->is_valid()) throw std::runtime_error("LoopbackServer: invalid TLS setup");

  server_->new_task_queue = [threads = options.threads, count = connectionCount_] {
    return new CountingThreadPool(threads, count);
  };
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_max_count(1'000'000);
  server_->set_keep_alive_timeout(options.keepAlive.count());
  Handler dispatcher = [this](const httplib::Request& request, httplib::Response& response) {
    dispatch(request, response);
  };
  server_->Get(".*", dispatcher);
  server_->Post(".*", dispatcher);
  server_->Put(".*", dispatcher);
  server_->Patch(".*", dispatcher);
  server_->Delete(".*", dispatcher);
  server_->Options(".*", dispatcher);

  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("LoopbackServer: no free port on 127.0.0.1");
  // The socket listens from here on; connections queue until the loop accepts them.
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex_);
    isStopping_ = true;
  }
  stopping_.notify_all();
  server_->stop();
  thread_.join();
}

void LoopbackServer::handle(const std::string& method, const std::string& pattern,
                            Handler handler) {
  std::lock_guard lock(mutex_);
  routes_.push_back(Route{method, std::regex(pattern), std::move(handler)});
}

std::string LoopbackServer::origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

Url LoopbackServer::url(const std::string& pathAndQuery) const {
  auto parsed = Url::parse(origin() + pathAndQuery);
  if (!parsed) throw std::invalid_argument("LoopbackServer: not a URL path: " + pathAndQuery);
  return *parsed;
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return log_;
}

bool LoopbackServer::waitForStop(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return stopping_.wait_for(lock, timeout, [this] { return isStopping_; });
}

void LoopbackServer::dispatch(const httplib::Request& request, httplib::Response& response) {
  RecordedRequest recorded{.method = request.method,
                           .path = request.target.substr(0, request.target.find('?')),
                           .query = {},
                           .headers = request.headers,
                           .body = request.body,
                           .remotePort = request.remote_port};
  if (auto mark = request.target.find('?'); mark != std::string::npos) {
    recorded.query = request.target.substr(mark + 1);
  }
  // Matched over the request's own target, so that the groups stay valid while the
  // handler runs.
  auto pathBegin = request.target.cbegin();
  auto pathEnd = pathBegin + static_cast<std::ptrdiff_t>(recorded.path.size());
  std::smatch groups;
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    for (const auto& route : routes_) {
      // A HEAD request is answered by the GET handler, as httplib does.
      bool methodMatches =
          route.method == request.method || (request.method == "HEAD" && route.method == "GET");
      if (methodMatches && std::regex_match(pathBegin, pathEnd, groups, route.pattern)) {
        handler = route.handler;
        break;
      }
    }
    log_.push_back(std::move(recorded));
  }
  // httplib hands handlers a const view of its own (mutable) request; routing fills in
  // the groups as httplib's own routing does.
  const_cast<httplib::Request&>(request).matches = groups;
  ++requestCount_;
  if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
  }
}

}  // namespace qelvo::test
