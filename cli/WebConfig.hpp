#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quillo::cli {

// Whether and how a client must show a certificate, as Prometheus exporters name it.
enum class ClientAuth { none, request, requireAny, verifyIfGiven, requireAndVerify };

// The web configuration file Prometheus exporters share: TLS, client certificates and
// users with bcrypt hashes of their passwords.
struct WebConfig {
    struct Tls {
        std::string certPem, keyPem, clientCaPem;
        ClientAuth clientAuth = ClientAuth::none;
        std::string priorities;  // GnuTLS's, from min_version and max_version
    };
    std::optional<Tls> tls;
    std::map<std::string, std::string> users;  // name → bcrypt hash
};

// Reads FILE, and the certificates and keys it names (relative paths from FILE's
// folder), and checks them all; a UsageError says what is wrong and where.
WebConfig loadWebConfig(const std::filesystem::path& file);

// Basic authentication against bcrypt hashes. bcrypt is slow on purpose, so a password
// once found right is remembered and a scraper pays for it once, not every scrape.
class BasicAuth {
  public:
    explicit BasicAuth(std::map<std::string, std::string> users) : users_(std::move(users)) {}
    bool required() const { return !users_.empty(); }
    bool allows(const std::string& user, const std::string& password);

  private:
    std::map<std::string, std::string> users_;
    std::mutex mutex_;
    std::map<std::string, std::string> verified_;
};

}  // namespace quillo::cli
