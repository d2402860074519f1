// The link to the relay on Windows: the same WebSocketLink over Windows' own WinHTTP, so that TLS,
// certificates and proxies are the system's. Every handle is asynchronous: WinHTTP's threads call
// back when a message part has arrived or has been written, as the io thread does on Linux, and
// closing a handle cancels what is pending on it.
#include "hosts/net/WebSocketLink.hpp"

#include "hosts/net/ServerUrl.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace qr {

namespace {
constexpr std::size_t kMaxMessage = 64 * 1024;
constexpr std::size_t kMaxQueued = 4096;  // messages received and not yet taken
constexpr DWORD kChunk = 16 * 1024;

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Reason(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return "timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "no such host is known";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "the connection was refused";
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return "the connection was reset";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "the server's certificate is not trusted";
    default:
      break;
  }
  char* text = nullptr;
  const DWORD size =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = size > 0 && text != nullptr ? std::string(text, size) : "";
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.')) reason.pop_back();
  return reason.empty() ? "WinHTTP error " + std::to_string(code) : reason;
}
}  // namespace

// The connection: what arrives is queued for Receive, what is sent is written in order, one
// message at a time, each part of the work started by the completion of the one before.
struct WebSocketLink::State : std::enable_shared_from_this<WebSocketLink::State> {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;  // until the upgrade
  HINTERNET socket = nullptr;   // set before the first receive, and kept
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<DWORD> step;  // the handshake's step that completed: its error, or NO_ERROR
  std::vector<char> chunk = std::vector<char>(kChunk);
  DWORD chunkBytes = 0;  // told again by the completion; kept here in case WinHTTP writes them
  WINHTTP_WEB_SOCKET_BUFFER_TYPE chunkType{};
  std::string partial;  // the message being received
  std::deque<std::string> incoming;
  bool closed = false;
  std::deque<std::string> outgoing;  // the front is being written while writing
  bool writing = false;
  bool broken = false;   // a write failed: nothing more is written
  bool closing = false;  // the link is going: the close follows what is left to write
  bool shutDown = false;
  bool gone = false;  // the socket's handle is closed

  void Read() {
    const DWORD e = WinHttpWebSocketReceive(socket, chunk.data(), kChunk, &chunkBytes, &chunkType);
    if (e != NO_ERROR) Close();
  }
  void Close() {
    std::lock_guard lock(mutex);
    closed = true;
    changed.notify_all();
  }
  // Starts writing the next message, or the close once all is written and the link is going.
  void Pump() {
    std::unique_lock lock(mutex);
    if (writing || gone || broken) return;
    if (!outgoing.empty()) {
      writing = true;
      std::string& message = outgoing.front();  // stays where it is while the deque grows
      lock.unlock();
      const DWORD e = WinHttpWebSocketSend(socket, WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE, message.data(),
                                           static_cast<DWORD>(message.size()));
      if (e != NO_ERROR) Broke();
    } else if (closing && !shutDown) {
      shutDown = true;
      lock.unlock();
      WinHttpWebSocketShutdown(socket, WINHTTP_WEB_SOCKET_SUCCESS_CLOSE_STATUS, nullptr, 0);
    }
  }
  void Broke() {
    std::lock_guard lock(mutex);
    writing = false;
    broken = true;
    outgoing.clear();
  }
  void Arrived(const WINHTTP_WEB_SOCKET_STATUS& status) {
    {
      std::lock_guard lock(mutex);
      const WINHTTP_WEB_SOCKET_BUFFER_TYPE type = status.eBufferType;
      const bool whole =
          type == WINHTTP_WEB_SOCKET_UTF8_MESSAGE_BUFFER_TYPE || type == WINHTTP_WEB_SOCKET_BINARY_MESSAGE_BUFFER_TYPE;
      if (type != WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE) partial.append(chunk.data(), status.dwBytesTransferred);
      if (type == WINHTTP_WEB_SOCKET_CLOSE_BUFFER_TYPE || partial.size() > kMaxMessage ||
          (whole && incoming.size() >= kMaxQueued)) {
        closed = true;
        changed.notify_all();
        return;
      }
      if (whole) {
        incoming.push_back(std::move(partial));
        partial.clear();
        changed.notify_all();
      }
      if (gone) return;
    }
    Read();
  }
  void Completed(bool ofSocket, DWORD status, void* info) {
    if (!ofSocket) {  // the request, during the handshake
      std::lock_guard lock(mutex);
      if (status == WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE ||
          status == WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE) {
        step = NO_ERROR;
      } else if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
        step = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
      }
      changed.notify_all();
      return;
    }
    if (status == WINHTTP_CALLBACK_STATUS_READ_COMPLETE) {
      Arrived(*static_cast<WINHTTP_WEB_SOCKET_STATUS*>(info));
    } else if (status == WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE) {
      {
        std::lock_guard lock(mutex);
        writing = false;
        if (!outgoing.empty()) outgoing.pop_front();
      }
      Pump();
    } else if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
      const auto& result = *static_cast<WINHTTP_WEB_SOCKET_ASYNC_RESULT*>(info);
      if (result.Operation == WINHTTP_WEB_SOCKET_RECEIVE_OPERATION) Close();
      if (result.Operation == WINHTTP_WEB_SOCKET_SEND_OPERATION) Broke();
    }
  }
  // Cancels whatever is pending; the handles' last calls back come later, on WinHTTP's threads.
  void CloseHandles() {
    {
      std::lock_guard lock(mutex);
      gone = true;
    }
    for (HINTERNET handle : {socket, request, connection, session}) {
      if (handle != nullptr) WinHttpCloseHandle(handle);
    }
  }
};

namespace {
// Each handle that calls back holds the state until WinHTTP says the handle is closing, the last
// call for it: a completion that comes after the link is gone still finds the state.
struct Holder {
  std::shared_ptr<WebSocketLink::State> state;
  bool ofSocket = false;  // or of the request
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  if (context == 0) return;  // the session and the connection
  auto* holder = reinterpret_cast<Holder*>(context);
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    delete holder;
    return;
  }
  holder->state->Completed(holder->ofSocket, status, info);
}

// The handshake's step just started: its error, or NO_ERROR once it has completed.
DWORD Await(WebSocketLink::State& state, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(state.mutex);
  if (!state.changed.wait_until(lock, deadline, [&] { return state.step.has_value(); })) return ERROR_WINHTTP_TIMEOUT;
  const DWORD e = *state.step;
  state.step.reset();
  return e;
}

DWORD Handshake(WebSocketLink::State& state, const ServerUrl& server, const std::string& target,
                std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout + std::chrono::seconds(1);
  state.session = WinHttpOpen(L"quillmarsh-rall", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  if (state.session == nullptr) {  // before Windows 8.1: the proxy of WinHTTP's own settings
    state.session = WinHttpOpen(L"quillmarsh-rall", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
  }
  if (state.session == nullptr) return GetLastError();
  const int ms = static_cast<int>(timeout.count());
  if (!WinHttpSetTimeouts(state.session, ms, ms, ms, ms)) return GetLastError();
  if (WinHttpSetStatusCallback(state.session, OnStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0) ==
      WINHTTP_INVALID_STATUS_CALLBACK) {
    return GetLastError();
  }
  state.connection =
      WinHttpConnect(state.session, Wide(server.host).c_str(), static_cast<INTERNET_PORT>(std::stoi(server.port)), 0);
  if (state.connection == nullptr) return GetLastError();
  state.request = WinHttpOpenRequest(state.connection, L"GET", Wide(target).c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, server.secure ? WINHTTP_FLAG_SECURE : 0);
  if (state.request == nullptr) return GetLastError();
  auto* holder = new Holder{state.shared_from_this(), false};
  auto context = reinterpret_cast<DWORD_PTR>(holder);
  if (!WinHttpSetOption(state.request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
    delete holder;
    return GetLastError();
  }
  if (!WinHttpSetOption(state.request, WINHTTP_OPTION_UPGRADE_TO_WEB_SOCKET, nullptr, 0)) return GetLastError();
  if (!WinHttpSendRequest(state.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
    return GetLastError();
  }
  if (const DWORD e = Await(state, deadline); e != NO_ERROR) return e;
  if (!WinHttpReceiveResponse(state.request, nullptr)) return GetLastError();
  if (const DWORD e = Await(state, deadline); e != NO_ERROR) return e;
  DWORD code = 0;
  DWORD size = sizeof(code);
  if (!WinHttpQueryHeaders(state.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
    return GetLastError();
  }
  if (code != HTTP_STATUS_SWITCH_PROTOCOLS) return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
  holder = new Holder{state.shared_from_this(), true};
  state.socket = WinHttpWebSocketCompleteUpgrade(state.request, reinterpret_cast<DWORD_PTR>(holder));
  if (state.socket == nullptr) {
    delete holder;
    return GetLastError();
  }
  WinHttpCloseHandle(state.request);
  state.request = nullptr;
  return NO_ERROR;
}
}  // namespace

std::unique_ptr<WebSocketLink> WebSocketLink::Connect(const std::string& url, const std::string& code,
                                                      std::chrono::milliseconds timeout, std::string& error) {
  const std::optional<ServerUrl> server = ParseServerUrl(url, error);
  if (!server) return nullptr;
  auto state = std::make_shared<State>();
  const std::string target = server->path + "api/rooms/" + (code.empty() ? std::string("new") : code);
  const DWORD e = Handshake(*state, *server, target, timeout);
  if (e != NO_ERROR) {
    state->CloseHandles();
    error = "cannot reach the server at " + server->host + ":" + server->port + ": " +
            (e == ERROR_WINHTTP_INVALID_SERVER_RESPONSE ? "the server did not open a link for the game" : Reason(e));
    return nullptr;
  }
  state->Read();
  return std::unique_ptr<WebSocketLink>(new WebSocketLink(state));
}

WebSocketLink::~WebSocketLink() {
  // What was sent goes out, then the connection closes; a second at most.
  State& state = *state_;
  {
    std::lock_guard lock(state.mutex);
    state.closing = true;
  }
  state.Pump();
  {
    std::unique_lock lock(state.mutex);
    state.changed.wait_for(lock, std::chrono::seconds(1), [&] { return state.closed; });
  }
  state.CloseHandles();
}

void WebSocketLink::Send(const std::string& message) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->broken) return;
    state_->outgoing.push_back(message);
  }
  state_->Pump();
}

std::optional<std::string> WebSocketLink::Receive(std::chrono::milliseconds timeout, bool& closed) {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait_for(lock, timeout, [&] { return !state_->incoming.empty() || state_->closed; });
  if (state_->incoming.empty()) {
    closed = state_->closed;
    return std::nullopt;
  }
  std::string message = std::move(state_->incoming.front());
  state_->incoming.pop_front();
  return message;
}

}  // namespace qr
