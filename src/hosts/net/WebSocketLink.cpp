#include "hosts/net/WebSocketLink.hpp"

#include "hosts/net/ServerUrl.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace qr {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace {
constexpr std::size_t kMaxMessage = 64 * 1024;
constexpr std::size_t kMaxQueued = 4096;  // messages received and not yet taken
}  // namespace

// What Receive, Send and the destructor share with the connection, whose io thread runs ioc:
// what arrives is queued here; send and close are posted to the connection.
struct WebSocketLink::State {
  net::io_context ioc;
  net::steady_timer stopAfter{ioc};
  ssl::context tls{ssl::context::tls_client};
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::string> incoming;
  bool closed = false;
  std::thread thread;
  // The connection's, on the io thread.
  std::function<void()> read;             // reads on, to the end
  std::function<void(std::string)> send;  // writes after what is being written
  std::function<void()> close;            // what was sent goes out, then the close
};

namespace {

// The WebSocket over TCP (ws://) or over TLS (wss://), run by the io thread: what arrives is
// queued for Receive, what is sent is written in order.
template <class Stream>
struct Connection : std::enable_shared_from_this<Connection<Stream>> {
  template <class... Args>
  explicit Connection(WebSocketLink::State& s, Args&&... args) : state(s), ws(std::forward<Args>(args)...) {}

  WebSocketLink::State& state;
  websocket::stream<Stream> ws;
  beast::flat_buffer buffer;
  std::deque<std::string> outgoing;
  bool closing = false;

  void Read() {
    ws.async_read(buffer, [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
      WebSocketLink::State& st = self->state;
      std::lock_guard lock(st.mutex);
      if (ec || st.incoming.size() >= kMaxQueued) {
        st.closed = true;
        st.arrived.notify_all();
        return;
      }
      st.incoming.push_back(beast::buffers_to_string(self->buffer.data()));
      self->buffer.consume(self->buffer.size());
      st.arrived.notify_all();
      net::post(st.ioc, [self] { self->Read(); });
    });
  }
  void Send(std::string message) {
    outgoing.push_back(std::move(message));
    if (outgoing.size() == 1) Write();
  }
  void Write() {
    ws.text(true);
    ws.async_write(net::buffer(outgoing.front()), [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return;
      self->outgoing.pop_front();
      if (!self->outgoing.empty()) return self->Write();
      if (self->closing) self->Close();
    });
  }
  void Finish() {
    closing = true;
    if (outgoing.empty()) Close();
  }
  void Close() {
    ws.async_close(websocket::close_code::normal,
                   [self = this->shared_from_this()](beast::error_code) { self->state.ioc.stop(); });
  }

  // Connects, shakes hands with TLS when it is there, then upgrades to the WebSocket of target;
  // done is told how that went.
  void Open(const ServerUrl& server, const std::string& target, std::chrono::milliseconds timeout,
            std::promise<beast::error_code>& done) {
    auto resolver = std::make_shared<tcp::resolver>(state.ioc);
    beast::get_lowest_layer(ws).expires_after(timeout);
    resolver->async_resolve(
        server.host, server.port,
        [self = this->shared_from_this(), resolver, server, target, &done](beast::error_code ec,
                                                                           const tcp::resolver::results_type& r) {
          if (ec) return done.set_value(ec);
          beast::get_lowest_layer(self->ws).async_connect(
              r, [self, server, target, &done](beast::error_code e, const tcp::endpoint&) {
                if (e) return done.set_value(e);
                auto upgrade = [self, server, target, &done](beast::error_code h) {
                  if (h) return done.set_value(h);
                  beast::get_lowest_layer(self->ws).expires_never();
                  self->ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
                  self->ws.read_message_max(kMaxMessage);
                  self->ws.async_handshake(server.host + ":" + server.port, target,
                                           [&done](beast::error_code w) { done.set_value(w); });
                };
                if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
                  upgrade({});
                } else {
                  // The certificate must name the server: its name (which also tells a proxy that
                  // serves several which one is meant), or its address.
                  SSL* ssl = self->ws.next_layer().native_handle();
                  beast::error_code notAddress;
                  net::ip::make_address(server.host, notAddress);
                  const bool named = notAddress
                                         ? SSL_set_tlsext_host_name(ssl, server.host.c_str()) == 1 &&
                                               SSL_set1_host(ssl, server.host.c_str()) == 1
                                         : X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), server.host.c_str()) == 1;
                  if (!named) {
                    return done.set_value(
                        beast::error_code(static_cast<int>(::ERR_get_error()), net::error::get_ssl_category()));
                  }
                  self->ws.next_layer().async_handshake(ssl::stream_base::client, upgrade);
                }
              });
        });
  }
};

// Starts the connection on state's io context and hands it Send and Close.
template <class Stream, class... Args>
void Start(WebSocketLink::State& state, const ServerUrl& server, const std::string& target,
           std::chrono::milliseconds timeout, std::promise<beast::error_code>& done, Args&&... args) {
  auto connection = std::make_shared<Connection<Stream>>(state, std::forward<Args>(args)...);
  state.read = [connection] { connection->Read(); };
  state.send = [connection](std::string message) { connection->Send(std::move(message)); };
  state.close = [connection] { connection->Finish(); };
  connection->Open(server, target, timeout, done);
}

}  // namespace

std::unique_ptr<WebSocketLink> WebSocketLink::Connect(const std::string& url, const std::string& code,
                                                      std::chrono::milliseconds timeout, std::string& error) {
  const std::optional<ServerUrl> server = ParseServerUrl(url, error);
  if (!server) return nullptr;
  auto state = std::make_shared<State>();
  std::promise<beast::error_code> done;
  std::future<beast::error_code> connected = done.get_future();
  const std::string target = server->path + "api/rooms/" + (code.empty() ? std::string("new") : code);
  if (server->secure) {
    // The server's certificate is checked against the system's (OpenSSL's default paths, which
    // SSL_CERT_FILE and SSL_CERT_DIR may change), and must name the server.
    beast::error_code ec;
    state->tls.set_default_verify_paths(ec);
    state->tls.set_verify_mode(ssl::verify_peer);
    Start<beast::ssl_stream<beast::tcp_stream>>(*state, *server, target, timeout, done, state->ioc, state->tls);
  } else {
    Start<beast::tcp_stream>(*state, *server, target, timeout, done, state->ioc);
  }
  std::thread runner([state] { state->ioc.run(); });
  const bool inTime = connected.wait_for(timeout + std::chrono::seconds(1)) == std::future_status::ready;
  const beast::error_code ec = inTime ? connected.get() : beast::error_code(net::error::timed_out);
  if (ec) {
    state->ioc.stop();
    runner.join();
    error = "cannot reach the server at " + server->host + ":" + server->port + ": " + ec.message();
    return nullptr;
  }
  // The handshake's handlers are done; reading goes on in the background.
  runner.join();
  state->ioc.restart();
  state->read();
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
    state->close();
  });
  state->thread.join();
}

void WebSocketLink::Send(const std::string& message) {
  net::post(state_->ioc, [state = state_, message] { state->send(message); });
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
