#pragma once
// The server's answers, without sockets: a request in, a response out (through a callback, since
// a submission is answered by a verifying thread).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/Store.hpp"
#include "server/Verifier.hpp"
#include "server/WorkPool.hpp"

namespace qr {

struct Request {
  std::string method;  // "GET", "POST", ...
  std::string target;  // the path and the query, as sent
  std::string contentType;
  std::string body;
  std::string client;  // the peer's address
};

struct Response {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

struct ApiConfig {
  std::int64_t tokenLifetimeS = 2 * 3600;
  std::size_t maxBody = 1024 * 1024;  // a submission's JSON
  VerifyLimits limits;
  int postsPerMinute = 30;                    // per client address, with a burst of as many
  std::optional<std::filesystem::path> site;  // canonical
};

// A bucket of POSTs per client address, refilled with time.
class RateLimiter {
 public:
  RateLimiter(int perMinute, std::size_t maxClients = 100000) : perMinute_(perMinute), maxClients_(maxClients) {}
  bool Allow(const std::string& client, std::chrono::steady_clock::time_point now);

 private:
  struct Bucket {
    double tokens = 0;
    std::chrono::steady_clock::time_point last;
  };
  int perMinute_;
  std::size_t maxClients_;
  std::mutex mutex_;
  std::map<std::string, Bucket> buckets_;
};

class Api {
 public:
  using Reply = std::function<void(Response)>;
  Api(Store& store, WorkPool& pool, ApiConfig config);

  // Answers the request through reply, exactly once: at once, or from a verifying thread.
  void Handle(const Request& request, Reply reply);

 private:
  Response IssueSeed();
  void SubmitRun(const Request& request, Reply& reply);
  Response Rankings(const std::string& query);
  Response RunDetails(std::int64_t id);
  Response RunRecording(std::int64_t id);
  Response SiteFile(const Request& request);

  Store& store_;
  WorkPool& pool_;
  ApiConfig config_;
  RateLimiter posts_;
};

// A JSON error: {"error": reason}.
Response ErrorResponse(int status, const std::string& reason);

// Bytes of a strong random source (getrandom); throws when there are none.
void RandomBytes(void* out, std::size_t size);

}  // namespace qr
