#include "hosts/net/WebSocketLink.hpp"

#include "hosts/net/ServerUrl.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace qr {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {
constexpr std::size_t kMaxMessage = 64 * 1024;
constexpr std::size_t kMaxQueued = 4096;  // messages received and not yet taken
}  // namespace

// The connection, run by a thread of its own: what arrives is queued for Receive, what is sent
// is written in order.
struct WebSocketLink::State : std::enable_shared_from_this<WebSocketLink::State> {
  net::io_context ioc;
  websocket::stream<beast::tcp_stream> ws{ioc};
  beast::flat_buffer buffer;
  std::deque<std::string> outgoing;  // the io thread's, with closing and stopAfter
  bool closing = false;
  net::steady_timer stopAfter{ioc};
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::string> incoming;
  bool closed = false;
  std::thread thread;

  void Read() {
    ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      std::lock_guard lock(self->mutex);
      if (ec || self->incoming.size() >= kMaxQueued) {
        self->closed = true;
        self->arrived.notify_all();
        return;
      }
      self->incoming.push_back(beast::buffers_to_string(self->buffer.data()));
      self->buffer.consume(self->buffer.size());
      self->arrived.notify_all();
      net::post(self->ioc, [self] { self->Read(); });
    });
  }
  void Write() {
    ws.text(true);
    ws.async_write(net::buffer(outgoing.front()), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return;
      self->outgoing.pop_front();
      if (!self->outgoing.empty()) return self->Write();
      if (self->closing) self->Close();
    });
  }
  void Close() {
    ws.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) { self->ioc.stop(); });
  }
};

std::unique_ptr<WebSocketLink> WebSocketLink::Connect(const std::string& url, const std::string& code,
                                                      std::chrono::milliseconds timeout, std::string& error) {
  const std::optional<ServerUrl> server = ParseServerUrl(url, error);
  if (!server) return nullptr;
  if (server->secure) {
    error = "network play does not speak TLS yet: give the server's http:// address";
    return nullptr;
  }
  const std::string& host = server->host;
  const std::string& port = server->port;
  const std::string& path = server->path;
  auto state = std::make_shared<State>();
  std::promise<beast::error_code> done;
  std::future<beast::error_code> connected = done.get_future();
  tcp::resolver resolver(state->ioc);
  const std::string target = path + "api/rooms/" + (code.empty() ? std::string("new") : code);
  beast::get_lowest_layer(state->ws).expires_after(timeout);
  resolver.async_resolve(host, port, [&](beast::error_code ec, const tcp::resolver::results_type& results) {
    if (ec) return done.set_value(ec);
    beast::get_lowest_layer(state->ws).async_connect(results, [&](beast::error_code e, const tcp::endpoint&) {
      if (e) return done.set_value(e);
      beast::get_lowest_layer(state->ws).expires_never();
      state->ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
      state->ws.read_message_max(kMaxMessage);
      state->ws.async_handshake(host + ":" + port, target, [&](beast::error_code h) { done.set_value(h); });
    });
  });
  std::thread runner([state] { state->ioc.run(); });
  const bool inTime = connected.wait_for(timeout + std::chrono::seconds(1)) == std::future_status::ready;
  const beast::error_code ec = inTime ? connected.get() : beast::error_code(net::error::timed_out);
  if (ec) {
    state->ioc.stop();
    runner.join();
    error = "cannot reach the server at " + host + ":" + port + ": " + ec.message();
    return nullptr;
  }
  // The handshake's handlers are done; reading goes on in the background.
  runner.join();
  state->ioc.restart();
  state->Read();
  state->thread = std::thread([state] {
    auto work = net::make_work_guard(state->ioc);
    state->ioc.run();
  });
  return std::unique_ptr<WebSocketLink>(new WebSocketLink(state));
}

WebSocketLink::~WebSocketLink() {
  // What was sent goes out, then the connection closes; a second at most.
  std::shared_ptr<State> state = state_;
  net::post(state->ioc, [state] {
    state->stopAfter.expires_after(std::chrono::seconds(1));
    state->stopAfter.async_wait([state](beast::error_code) { state->ioc.stop(); });
    state->closing = true;
    if (state->outgoing.empty()) state->Close();
  });
  state->thread.join();
}

void WebSocketLink::Send(const std::string& message) {
  net::post(state_->ioc, [state = state_, message] {
    state->outgoing.push_back(message);
    if (state->outgoing.size() == 1) state->Write();
  });
}

std::optional<std::string> WebSocketLink::Receive(std::chrono::milliseconds timeout, bool& closed) {
  std::unique_lock lock(state_->mutex);
  state_->arrived.wait_for(lock, timeout, [&] { return !state_->incoming.empty() || state_->closed; });
  if (state_->incoming.empty()) {
    closed = state_->closed;
    return std::nullopt;
  }
  std::string message = std::move(state_->incoming.front());
  state_->incoming.pop_front();
  return message;
}

}  // namespace qr
