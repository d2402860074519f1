#include "server/HttpServer.hpp"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <csignal>
#include <cstdio>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "hosts/shared/Script.hpp"
#include "server/Relay.hpp"

namespace qr {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

void Log(const std::string& line) { std::fprintf(stderr, "quillmarsh-rall-server: %s\n", line.c_str()); }

// A member of a room of network play, or a spectator of one, over a WebSocket: its messages go
// to the relay, the relay's go out in order. Whoever cannot keep up with what it is sent is
// dropped (a spectator's arrays waiting to go out are joined into fewer, larger ones first).
class RelaySession final : public RelayPeer, public std::enable_shared_from_this<RelaySession> {
 public:
  enum class Role { Open, Join, Watch };
  RelaySession(tcp::socket socket, Relay& relay, const RelayLimits& limits)
      : ws_(std::move(socket)),
        relay_(relay),
        maxMessage_(limits.maxMessage),
        maxQueuedBytes_(limits.maxLog + (1u << 20)),
        delay_(limits.delay),
        jitter_(limits.jitter),
        held_(ws_.get_executor()),
        random_(std::random_device{}()) {}

  // Answers the upgrade, then opens a room, joins the room of code or watches it.
  void Run(http::request<http::string_body> request, Role role, std::string code) {
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.read_message_max(maxMessage_ + 1);  // a larger one is the relay's to refuse, with the reason
    watching_ = role == Role::Watch;
    ws_.async_accept(request, [self = shared_from_this(), role, code = std::move(code)](beast::error_code ec) {
      if (ec) return;
      if (role == Role::Open) {
        self->relay_.Open(self);
      } else if (role == Role::Join) {
        self->relay_.Join(code, self);
      } else {
        self->relay_.Spectate(code, self);
      }
      self->Read();
    });
  }
  void Deliver(const std::string& message) override {
    net::post(ws_.get_executor(), [self = shared_from_this(), message] {
      if (self->delay_.count() == 0) return self->Queue(message, false);
      self->Hold(message, false);
    });
  }
  void Drop(const std::string& why) override {
    const std::string bye = nlohmann::json{{"bye", why}}.dump();
    net::post(ws_.get_executor(), [self = shared_from_this(), bye] {
      if (self->delay_.count() == 0) return self->Queue(bye, true);
      self->Hold(bye, true);  // after what came before it
    });
  }

 private:
  static constexpr std::size_t kMaxQueued = 1024;

  void Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) {
        self->relay_.Leave(*self);
        if (ec == websocket::error::message_too_big)
          self->Queue(nlohmann::json{{"bye", "a message too large"}}.dump(), true);
        return;
      }
      const std::string text = beast::buffers_to_string(self->buffer_.data());
      self->buffer_.consume(self->buffer_.size());
      if (!self->closing_) self->relay_.Message(*self, text);
      self->Read();
    });
  }
  // A message of a slow network: out at its time, after every message before it.
  void Hold(const std::string& message, bool last) {
    std::uniform_int_distribution<long long> spread(-jitter_.count(), jitter_.count());
    const auto due =
        std::max(lastDue_, std::chrono::steady_clock::now() + delay_ + std::chrono::milliseconds(spread(random_)));
    lastDue_ = due;
    holding_.push_back(Held{due, message, last});
    if (holding_.size() == 1) Release();
  }
  void Release() {
    held_.expires_at(holding_.front().due);
    held_.async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec) return;
      const auto now = std::chrono::steady_clock::now();
      while (!self->holding_.empty() && self->holding_.front().due <= now) {
        self->Queue(std::move(self->holding_.front().message), self->holding_.front().last);
        self->holding_.pop_front();
      }
      if (!self->holding_.empty()) self->Release();
    });
  }
  void Queue(std::string message, bool last) {
    if (closing_) return;
    // A spectator's array joins the last one waiting (not the one being written), within a batch.
    if (watching_ && !last && queue_.size() >= 2 && message.size() > 2 && message.front() == '[' &&
        queue_.back().size() > 2 && queue_.back().front() == '[' &&
        queue_.back().size() + message.size() <= kSpectatorBatch) {
      queuedBytes_ += message.size() - 1;
      queue_.back().back() = ',';
      queue_.back().append(message, 1);
      return;
    }
    if (queue_.size() >= kMaxQueued || queuedBytes_ + message.size() > maxQueuedBytes_) {
      message = nlohmann::json{{"bye", watching_ ? "the connection is too slow to watch the game"
                                                 : "the connection is too slow for the game"}}
                    .dump();
      last = true;
    }
    closing_ = last;
    queuedBytes_ += message.size();
    queue_.push_back(std::move(message));
    if (queue_.size() == 1) Write();
  }
  void Write() {
    ws_.text(true);
    ws_.async_write(net::buffer(queue_.front()), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return;
      self->queuedBytes_ -= self->queue_.front().size();
      self->queue_.pop_front();
      if (!self->queue_.empty()) return self->Write();
      if (self->closing_) {
        self->ws_.async_close(websocket::close_code::normal, [self](beast::error_code) {});
      }
    });
  }

  websocket::stream<beast::tcp_stream> ws_;
  Relay& relay_;
  std::size_t maxMessage_;
  std::size_t maxQueuedBytes_;  // a full log for a spectator, and then some
  beast::flat_buffer buffer_;
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  bool watching_ = false;
  bool closing_ = false;
  std::chrono::milliseconds delay_;
  std::chrono::milliseconds jitter_;
  net::steady_timer held_;
  std::mt19937_64 random_;
  std::chrono::steady_clock::time_point lastDue_;
  struct Held {
    std::chrono::steady_clock::time_point due;
    std::string message;
    bool last;
  };
  std::deque<Held> holding_;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, Api& api, Relay& relay, const HttpConfig& config,
          std::shared_ptr<std::atomic<std::size_t>> open)
      : stream_(std::move(socket)), api_(api), relay_(relay), config_(config), open_(std::move(open)) {
    beast::error_code ec;
    const tcp::endpoint peer = stream_.socket().remote_endpoint(ec);
    client_ = ec ? "?" : peer.address().to_string();
  }
  ~Session() { --*open_; }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadHeader(); });
  }

 private:
  void ReadHeader() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(config_.maxHeader));
    parser_->body_limit(config_.maxBody);
    stream_.expires_after(config_.headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return Failed(ec);
    start_ = std::chrono::steady_clock::now();
    stream_.expires_after(config_.bodyTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code e, std::size_t) { self->OnRead(e); });
  }

  // A request that could not be read: answered when that says something to the client, then
  // the connection is closed (a slow client's deadline passed, or the client went away).
  void Failed(beast::error_code ec) {
    if (ec == http::error::body_limit) return Refuse(413, "the body is too large");
    if (ec == http::error::header_limit) return Refuse(431, "the headers are too large");
    if (ec.category() == beast::error_code(http::error::bad_target).category() && ec != http::error::end_of_stream &&
        ec != http::error::partial_message)
      return Refuse(400, "malformed request");
    Close();
  }

  void Refuse(int status, const std::string& reason) {
    // What was read of the request line, even when its headers were refused (a body announced too
    // large is refused as its header arrives).
    method_ = parser_ ? std::string(parser_->get().method_string()) : "";
    target_ = parser_ ? std::string(parser_->get().target()) : "";
    if (method_.empty()) method_ = "-";
    if (target_.empty()) target_ = "-";
    if (start_ == std::chrono::steady_clock::time_point()) start_ = std::chrono::steady_clock::now();
    keepAlive_ = false;
    Write(ErrorResponse(status, reason));
  }

  void OnRead(beast::error_code ec) {
    if (ec) return Failed(ec);
    const auto& req = parser_->get();
    Request request;
    request.method = std::string(req.method_string());
    request.target = std::string(req.target());
    request.contentType = std::string(req[http::field::content_type]);
    request.body = std::move(parser_->get().body());
    request.client = client_;
    method_ = request.method;
    target_ = request.target;
    keepAlive_ = req.keep_alive();
    if (websocket::is_upgrade(req)) return Upgrade();
    stream_.expires_never();  // a verification may take a while; the client waits
    api_.Handle(request, [self = shared_from_this()](Response response) {
      auto shared = std::make_shared<Response>(std::move(response));
      net::post(self->stream_.get_executor(), [self, shared] { self->Write(std::move(*shared)); });
    });
  }

  // /api/rooms/new opens a room of network play, /api/rooms/CODE joins one and
  // /api/rooms/CODE/watch watches its game: the connection becomes the room member's (or the
  // spectator's) WebSocket.
  void Upgrade() {
    const std::string prefix = "/api/rooms/";
    const std::string watch = "/watch";
    std::string code = target_.rfind(prefix, 0) == 0 ? target_.substr(prefix.size()) : std::string();
    RelaySession::Role role = code == "new" ? RelaySession::Role::Open : RelaySession::Role::Join;
    if (code.size() == 6 + watch.size() && code.compare(6, watch.size(), watch) == 0) {
      code.resize(6);
      role = RelaySession::Role::Watch;
    }
    const bool valid =
        role == RelaySession::Role::Open ||
        (code.size() == 6 && code.find_first_not_of("ABCDEFGHJKLMNPQRSTUVWXYZ23456789") == std::string::npos);
    if (!valid) {
      keepAlive_ = false;
      return Write(ErrorResponse(404, "no such room"));
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    Log(method_ + " " + Printable(target_) + " 101 " + std::to_string(ms.count()) + "ms " + client_);
    stream_.expires_never();
    std::make_shared<RelaySession>(stream_.release_socket(), relay_, config_.relay)
        ->Run(parser_->release(), role, std::move(code));
  }

  void Write(Response response) {
    auto res = std::make_shared<http::response<http::string_body>>();
    res->version(11);
    res->result(static_cast<unsigned>(response.status));
    res->set(http::field::server, "quillmarsh-rall-server");
    res->set(http::field::content_type, response.contentType);
    res->set("X-Content-Type-Options", "nosniff");
    for (const auto& [name, value] : response.headers) res->set(name, value);
    res->keep_alive(keepAlive_);
    res->body() = std::move(response.body);
    res->prepare_payload();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    Log(method_ + " " + Printable(target_.substr(0, 200)) + " " + std::to_string(response.status) + " " +
        std::to_string(ms.count()) + "ms " + client_);
    stream_.expires_after(config_.bodyTimeout);
    http::async_write(stream_, *res, [self = shared_from_this(), res](beast::error_code ec, std::size_t) {
      if (ec || !self->keepAlive_) return self->Close();
      self->start_ = {};
      self->ReadHeader();
    });
  }

  void Close() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.close();
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Api& api_;
  Relay& relay_;
  const HttpConfig& config_;
  std::shared_ptr<std::atomic<std::size_t>> open_;  // the connections open, counted by the listener
  std::string client_;
  std::string method_;
  std::string target_;
  bool keepAlive_ = false;
  std::chrono::steady_clock::time_point start_;
};

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(net::io_context& ioc, Api& api, Relay& relay, const HttpConfig& config)
      : ioc_(ioc), acceptor_(net::make_strand(ioc)), api_(api), relay_(relay), config_(config) {}

  bool Open(const tcp::endpoint& endpoint, std::string& error) {
    beast::error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) error = ec.message();
    return !ec;
  }
  tcp::endpoint Local() const { return acceptor_.local_endpoint(); }
  void Accept() {
    acceptor_.async_accept(net::make_strand(ioc_), [self = shared_from_this()](beast::error_code ec, tcp::socket s) {
      if (ec == net::error::operation_aborted || !self->acceptor_.is_open()) return;
      if (!ec) {
        // Past the bound the connection is closed at once; those open go on.
        if (*self->open_ < self->config_.maxConnections) {
          ++*self->open_;
          std::make_shared<Session>(std::move(s), self->api_, self->relay_, self->config_, self->open_)->Start();
        }
      }
      self->Accept();
    });
  }
  void Stop() {
    net::post(acceptor_.get_executor(), [self = shared_from_this()] {
      beast::error_code ec;
      self->acceptor_.close(ec);
    });
  }

 private:
  net::io_context& ioc_;
  tcp::acceptor acceptor_;
  Api& api_;
  Relay& relay_;
  const HttpConfig& config_;
  std::shared_ptr<std::atomic<std::size_t>> open_ = std::make_shared<std::atomic<std::size_t>>(0);
};

}  // namespace

bool ParseListen(const std::string& text, HttpConfig& config) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::stoul(port);
  if (value > 65535) return false;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) host = "0.0.0.0";
  beast::error_code ec;
  net::ip::make_address(host, ec);
  if (ec) return false;
  config.address = host;
  config.port = static_cast<unsigned short>(value);
  return true;
}

int ServeHttp(Api& api, const HttpConfig& config, const std::function<void()>& drain) {
  net::io_context ioc(config.ioThreads);
  Relay relay(config.relay);
  auto listener = std::make_shared<Listener>(ioc, api, relay, config);
  std::string error;
  const tcp::endpoint endpoint(net::ip::make_address(config.address), config.port);
  if (!listener->Open(endpoint, error)) {
    Log("cannot listen on " + config.address + ":" + std::to_string(config.port) + ": " + error);
    return 1;
  }
  const tcp::endpoint local = listener->Local();
  Log("listening on " + local.address().to_string() + ":" + std::to_string(local.port()));
  listener->Accept();
  // Rooms nobody joined go after a while.
  net::steady_timer expiry(ioc);
  std::function<void()> expire = [&] {
    expiry.expires_after(std::chrono::seconds(30));
    expiry.async_wait([&](beast::error_code ec) {
      if (ec) return;
      relay.Expire();
      expire();
    });
  };
  expire();

  // The context runs until the end below even when it has nothing to wait for: while the last
  // verifications finish on the pool, their answers are still to be written.
  auto keepRunning = net::make_work_guard(ioc);
  std::thread drainer;
  net::steady_timer last(ioc);
  net::signal_set signals(ioc, SIGINT, SIGTERM);
  signals.async_wait([&](beast::error_code ec, int) {
    if (ec) return;
    Log("shutting down: no new connections; finishing the verifications in flight");
    listener->Stop();
    expiry.cancel();
    // Drained on a thread of its own, so that the answers of the last verifications still go
    // out meanwhile; then a moment for the last writes, and the end.
    drainer = std::thread([&] {
      drain();
      net::post(ioc, [&] {
        last.expires_after(std::chrono::milliseconds(500));
        last.async_wait([&](beast::error_code) { ioc.stop(); });
      });
    });
  });

  std::vector<std::thread> threads;
  for (int i = 1; i < config.ioThreads; ++i) threads.emplace_back([&] { ioc.run(); });
  ioc.run();
  for (std::thread& t : threads) t.join();
  if (drainer.joinable()) drainer.join();
  Log("stopped");
  return 0;
}

}  // namespace qr
